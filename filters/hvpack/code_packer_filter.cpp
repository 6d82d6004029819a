#include "code_packer_filter.h"

#include <new>
#include <span>

#include "code_container.h"
#include "fractal/code_layout.h"

namespace vorlan::hvpack {

namespace {

std::span<const int32_t> View(const IntArray* array) {
  if (array == nullptr || array->count <= 0) return {};
  return {array->values, static_cast<size_t>(array->count)};
}

}  // namespace

CodePackerFilter::CodePackerFilter() : FilterBase(kInfo) {
  for (int i = 0; i < 10; ++i) code_[i] = AddNewPin(fractal::kCodePinNames[i], PinKind::Input);
  out_ = AddNewPin("Out", PinKind::Output);
}

CodePackerFilter::~CodePackerFilter() {
  if (out_ != nullptr) Withdraw(out_);
}

void CodePackerFilter::ReleaseOutputs() {
  stream_.clear();
  stream_.shrink_to_fit();
}

Result CodePackerFilter::Work() {
  Withdraw(out_);
  ReleaseOutputs();

  codepack::CodeView code;
  Result r = ReadBytes(code_[0], code.header, code.headerLength);
  if (r != Ok) return r;
  // SI, OI, TRN, DP, DF, then the tree; RP and RS only when connected.
  const IntArray* arrays[9] = {};
  for (int i = 1; i < 10; ++i) {
    const bool optional = i + 2 == kRpPin || i + 2 == kRsPin;
    if (optional && !code_[i]->connected) continue;
    r = ReadIntArray(code_[i], arrays[i - 1]);
    if (r != Ok) return r;
  }
  code.si = View(arrays[0]);
  code.oi = View(arrays[1]);
  code.trn = View(arrays[2]);
  code.dp = View(arrays[3]);
  code.df = View(arrays[4]);
  code.hasRp = arrays[5] != nullptr;
  code.rp = View(arrays[5]);
  code.hasRs = arrays[6] != nullptr;
  code.rs = View(arrays[6]);
  code.rtd = View(arrays[7]);
  code.rtt = View(arrays[8]);

  std::string reason;
  try {
    reason = codepack::PackCode(code, stream_);
  } catch (const std::bad_alloc&) {
    reason = "out of memory while packing the code";
  }
  if (!reason.empty()) {
    ReleaseOutputs();
    return Fail(reason);
  }
  Publish(out_, MakePacket(static_cast<int32_t>(stream_.size()), PacketType::Bytes, stream_.data()));
  return Ok;
}

}  // namespace vorlan::hvpack
