#include "binary_encoder_filter.h"

#include "binary_coding.h"
#include "vorlan/pin_types.h"

namespace vorlan {

BinaryEncoderFilter::BinaryEncoderFilter() : FilterBase(kInfo) {
  in_ = AddNewPin("In", PinKind::Input, kIntArrayPacket);
  out_ = AddNewPin("Out", PinKind::Output, kBytesPacket);
}

BinaryEncoderFilter::~BinaryEncoderFilter() = default;

Result BinaryEncoderFilter::Work() {
  Withdraw(out_);
  stream_.Clear();
  const IntArray* array = nullptr;
  const Result r = ReadIntArray(in_, array);
  if (r != Ok) return r;
  const CodingResult coded = EncodeBinary(array->values, array->count, stream_, [this](double fraction) {
    ReportProgress(fraction);
    return !StopRequested();
  });
  if (coded.status == CodingStatus::Stopped) return Stopped;
  if (coded.status == CodingStatus::Failed) return Fail(coded.reason);
  Publish(out_, MakePacket(static_cast<int32_t>(stream_.UsedBytes()), PacketType::Bytes, stream_.Data()));
  return Ok;
}

}  // namespace vorlan
