#include "code_unpacker_filter.h"

#include <new>

#include "fractal/code_layout.h"
#include "vorlan/pin_types.h"

namespace vorlan::hvunpack {

CodeUnpackerFilter::CodeUnpackerFilter() : FilterBase(kInfo) {
  in_ = AddNewPin("In", PinKind::Input, kBytesLikePackets);
  for (int i = 0; i < 10; ++i) codePins_[i] = AddNewPin(fractal::kCodePinNames[i], PinKind::Output, i == 0 ? kBytesPacket : kIntArrayPacket);
}

CodeUnpackerFilter::~CodeUnpackerFilter() { WithdrawCode(); }

void CodeUnpackerFilter::WithdrawCode() {
  for (Pin* pin : codePins_) {
    if (pin != nullptr) Withdraw(pin);
  }
}

void CodeUnpackerFilter::ReleaseOutputs() {
  code_ = codepack::UnpackedCode{};
  for (IntArray& r : records_) r = IntArray{0, nullptr};
}

Result CodeUnpackerFilter::Work() {
  WithdrawCode();
  ReleaseOutputs();

  const uint8_t* data = nullptr;
  int32_t length = 0;
  const Result r = ReadBytes(in_, data, length);
  if (r != Ok) return r;

  std::string reason;
  bool overBudget = false;
  const auto reserve = [this, &overBudget, length](int64_t bytes) {
    overBudget = ReserveDecoded(bytes, length, "the unpacked code") != Ok;
    return !overBudget;
  };
  try {
    reason = codepack::UnpackCode(data, static_cast<size_t>(length), code_, true, reserve);
  } catch (const std::bad_alloc&) {
    reason = "out of memory while unpacking the code";
  }
  if (!reason.empty()) {
    ReleaseOutputs();
    return overBudget ? Failed : Fail(reason);  // ReserveDecoded gave the reason
  }

  std::vector<int32_t>* arrays[9] = {&code_.si, &code_.oi, &code_.trn, &code_.dp, &code_.df,
                                     &code_.rp, &code_.rs, &code_.rtd, &code_.rtt};
  Publish(codePins_[0], MakePacket(fractal::kCodeHeaderSize, PacketType::Bytes, &code_.header));
  for (int i = 0; i < 9; ++i) {
    records_[i] = IntArray{static_cast<int32_t>(arrays[i]->size()), arrays[i]->data()};
    Publish(codePins_[1 + i], MakePacket(sizeof(IntArray), PacketType::IntArray, &records_[i]));
  }
  return Ok;
}

}  // namespace vorlan::hvunpack
