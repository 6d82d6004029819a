#include "stream_decoder_filter.h"

#include "vorlan/pin_types.h"

namespace vorlan {

StreamDecoderFilter::StreamDecoderFilter(const FilterInfo& info, StreamDecodeFn decode)
    : FilterBase(info), decode_(decode) {
  in_ = AddNewPin("In", PinKind::Input, kBytesLikePackets);
  out_ = AddNewPin("Out", PinKind::Output, kIntArrayPacket);
}

StreamDecoderFilter::~StreamDecoderFilter() = default;

Result StreamDecoderFilter::Work() {
  Withdraw(out_);
  output_.Release();
  const uint8_t* data = nullptr;
  int32_t length = 0;
  const Result r = ReadBytes(in_, data, length);
  if (r != Ok) return r;
  if (data == nullptr) return Fail("input \"In\" received an empty packet");

  const CodingResult decoded = decode_(data, static_cast<size_t>(length), output_,
                                       [this](double fraction) {
                                         ReportProgress(fraction);
                                         return !StopRequested();
                                       },
                                       valueLimit_,
                                       [this, length](int64_t bytes) {
                                         return ReserveDecoded(bytes, length, "the decoded array") == Ok;
                                       });
  if (decoded.status == CodingStatus::Stopped) return Stopped;
  if (decoded.status == CodingStatus::Failed) return decoded.reason.empty() ? Failed : Fail(decoded.reason);
  Publish(out_, output_.AsPacket());
  return Ok;
}

}  // namespace vorlan
