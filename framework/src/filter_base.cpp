#include "vorlan/filter_base.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <new>

#include "vorlan/memory_budget.h"

namespace vorlan {

FilterBase::FilterBase(const FilterInfo& prototype) {
  info = prototype;
  AddNewPin("Cfg in", PinKind::ConfigIn);
  AddNewPin("Cfg out", PinKind::ConfigOut);
}

FilterBase::~FilterBase() {
  ReturnDecoded();
  if (Pin* out = ConfigOutPin()) WithdrawAndFree(out);
}

Result FilterBase::ApplyConfig(Packet, ConfigForm) { return Ok; }

Packet FilterBase::GetConfig(ConfigForm) { return MakePacket(0, PacketType::Config, nullptr); }

const char* FilterBase::SettingsCheckText() {
  settingsProblem_ = SettingsProblem();
  return settingsProblem_.empty() ? nullptr : settingsProblem_.c_str();
}

Result FilterBase::Initialize() {
  if (state == FilterState::Error) return Fail("the filter could not build its pins");
  state = FilterState::Ready;
  return Ok;
}

Result FilterBase::Deinitialize() {
  if (state != FilterState::Error) state = FilterState::None;
  return Ok;
}

Result FilterBase::Configure() { return Fail("no user interface is available to configure the filter"); }

Result FilterBase::Process() {
  // One exchange takes the request and clears it; a request that arrives
  // after this point stays set for Work to notice.
  if (stopRequested_.exchange(false)) {
    state = FilterState::Stopped;
    return Stopped;
  }
  if (state == FilterState::Error) return Fail("the filter could not build its pins");
  state = FilterState::Running;
  failure_.clear();
  ReportProgress(0.0);
  // Work replaces the outputs of the previous run, and with them what they held.
  ReturnDecoded();

  Pin* cfgIn = ConfigInPin();
  if (cfgIn != nullptr && ReadInput(cfgIn) == Ok && cfgIn->packet.data != nullptr) {
    if (ApplyRunConfig(cfgIn->packet) != Ok) {
      if (failure_.empty()) failure_ = "the configuration received on \"Cfg in\" was refused";
      WithdrawOutputs();
      ReleaseOutputs();
      state = FilterState::Stopped;
      return Failed;
    }
  }

  const Result result = Work();
  if (result == InputNotReady) return InputNotReady;
  if (result != Ok) {
    WithdrawOutputs();
    ReleaseOutputs();
    ReturnDecoded();
    state = FilterState::Stopped;
    if (result == Stopped) return Stopped;
    if (failure_.empty()) failure_ = result == OutOfMemory ? "out of memory" : "processing failed";
    return Failed;
  }

  if (reportFinalProgress_) ReportProgress(1.0);
  if (Pin* cfgOut = ConfigOutPin()) {
    WithdrawAndFree(cfgOut);
    const Packet settings = GetConfig(ConfigForm::Serialized);
    Publish(cfgOut, settings);
  }
  state = FilterState::Done;
  return Ok;
}

Result FilterBase::Reset() {
  WithdrawOutputs();
  if (Pin* out = ConfigOutPin()) WithdrawAndFree(out);
  ReleaseOutputs();
  ReturnDecoded();
  stopRequested_.store(false);
  failure_.clear();
  if (state != FilterState::Error) state = FilterState::Ready;
  return Ok;
}

Result FilterBase::Stop() {
  stopRequested_.store(true);
  OnStop();
  if (state != FilterState::Error) state = FilterState::Stopped;
  return Ok;
}

Result FilterBase::ApplyRunConfig(Packet packet) {
  ApplyConfig(packet, ConfigForm::Serialized);
  return Ok;
}

Pin* FilterBase::AddNewPin(const char* name, PinKind kind) {
  Pin* pin = NewPin(name, kind);
  Pin** grown = pin != nullptr ? new (std::nothrow) Pin*[pinCount + 1] : nullptr;
  if (grown == nullptr) {
    if (pin != nullptr) {
      std::free(pin->name);
      delete pin;
    }
    state = FilterState::Error;
    return nullptr;
  }
  for (int32_t i = 0; i < pinCount; ++i) grown[i] = pins[i];
  grown[pinCount] = pin;
  delete[] pins;
  pins = grown;
  ++pinCount;
  return pin;
}

Pin* FilterBase::AddNewPin(const char* name, PinKind kind, uint32_t packetTypes) {
  Pin* pin = AddNewPin(name, kind);
  if (pin == nullptr) return nullptr;
  try {
    if (pinTypes_.size() < static_cast<size_t>(pinCount)) pinTypes_.resize(static_cast<size_t>(pinCount), 0);
    pinTypes_[static_cast<size_t>(pinCount - 1)] = packetTypes;
  } catch (const std::bad_alloc&) {
    // The types are a courtesy to the host: without them the pin still works.
  }
  return pin;
}

uint32_t FilterBase::PinPacketTypes(int32_t index) const {
  if (index < 0 || index >= pinCount || pins[index] == nullptr) return 0;
  const int32_t kind = pins[index]->kind;
  if (kind == static_cast<int32_t>(PinKind::ConfigIn) || kind == static_cast<int32_t>(PinKind::ConfigOut)) {
    return PacketTypeBit(PacketType::Config);
  }
  return static_cast<size_t>(index) < pinTypes_.size() ? pinTypes_[static_cast<size_t>(index)] : 0;
}

void FilterBase::RemovePinsFrom(int32_t first) {
  if (first < 0) first = 0;
  if (static_cast<size_t>(first) < pinTypes_.size()) pinTypes_.resize(static_cast<size_t>(first));
  for (int32_t i = first; i < pinCount; ++i) {
    std::free(pins[i]->name);
    delete pins[i];
    pins[i] = nullptr;
  }
  if (first < pinCount) pinCount = first;
}

void FilterBase::WithdrawOutputs() {
  for (int32_t i = 0; i < pinCount; ++i) {
    if (pins[i] != nullptr && pins[i]->kind == static_cast<int32_t>(PinKind::Output)) Withdraw(pins[i]);
  }
}

Result FilterBase::ReadTyped(Pin* input, PacketType type, Packet& packet) {
  const Result r = ReadInput(input);
  if (r == InputNotReady) return InputNotReady;
  if (r != Ok) return Failf("input \"%s\" is not connected", input->name);
  packet = input->packet;
  if (packet.type != static_cast<int32_t>(type)) {
    return Failf("input \"%s\" received a packet of type %d where type %d was expected", input->name,
                 packet.type, static_cast<int>(type));
  }
  if (packet.data == nullptr) return Failf("input \"%s\" received an empty packet", input->name);
  return Ok;
}

Result FilterBase::ReadPlane(Pin* input, const Plane*& plane) {
  Packet packet{};
  const Result r = ReadTyped(input, PacketType::Plane, packet);
  if (r != Ok) return r;
  if (packet.length != static_cast<int32_t>(sizeof(Plane))) {
    return Failf("input \"%s\" received a malformed plane record", input->name);
  }
  const auto* p = static_cast<const Plane*>(packet.data);
  const int64_t count = int64_t{p->width} * p->height;
  if (p->width < 0 || p->height < 0 || int64_t{p->size} != count * 8 ||
      (count > 0 && p->samples == nullptr)) {
    return Failf("input \"%s\" received a malformed plane record", input->name);
  }
  plane = p;
  return Ok;
}

Result FilterBase::ReadIntArray(Pin* input, const IntArray*& array) {
  Packet packet{};
  const Result r = ReadTyped(input, PacketType::IntArray, packet);
  if (r != Ok) return r;
  const auto* a = static_cast<const IntArray*>(packet.data);
  if (packet.length != static_cast<int32_t>(sizeof(IntArray)) || a->count < 0 ||
      (a->count > 0 && a->values == nullptr)) {
    return Failf("input \"%s\" received a malformed integer array", input->name);
  }
  array = a;
  return Ok;
}

Result FilterBase::ReadBytes(Pin* input, const uint8_t*& data, int32_t& length) {
  const Result r = ReadInput(input);
  if (r == InputNotReady) return InputNotReady;
  if (r != Ok) return Failf("input \"%s\" is not connected", input->name);
  const Packet& packet = input->packet;
  if (packet.length < 0 || (packet.length > 0 && packet.data == nullptr)) {
    return Failf("input \"%s\" received a malformed packet", input->name);
  }
  // These payloads are records holding a pointer: their bytes are an address
  // of another module's memory, never data to decode or store.
  if (packet.type == static_cast<int32_t>(PacketType::IntArray)) {
    return Failf("input \"%s\" received an integer array where a byte stream belongs", input->name);
  }
  if (packet.type == static_cast<int32_t>(PacketType::Plane)) {
    return Failf("input \"%s\" received an image plane where a byte stream belongs", input->name);
  }
  data = static_cast<const uint8_t*>(packet.data);
  length = packet.length;
  return Ok;
}

Result FilterBase::Fail(std::string reason) {
  failure_ = std::move(reason);
  return Failed;
}

Result FilterBase::Failf(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  failure_ = buffer;
  return Failed;
}

Result FilterBase::ReserveDecoded(int64_t bytes, const char* what) {
  if (ReserveDecodedMemory(bytes)) {
    if (bytes > 0) decodedReserved_ += bytes;
    return Ok;
  }
  const DecodedMemoryBudget& budget = SharedDecodedMemoryBudget();
  return Failf("%s: %s would take %lld bytes, over the memory limit of %lld bytes for decoded data (%lld in use)",
               info.name, what, static_cast<long long>(bytes), static_cast<long long>(budget.limit.load()),
               static_cast<long long>(budget.used.load()));
}

Result FilterBase::ReserveDecoded(int64_t bytes, int64_t inputBytes, const char* what) {
  int64_t unbacked = 0;
  const DecodedRefusal refusal = ReserveDecodedMemory(bytes, inputBytes, unbacked);
  if (refusal == DecodedRefusal::None) {
    if (bytes > 0) decodedReserved_ += bytes;
    unbackedReserved_ += unbacked;
    return Ok;
  }
  if (refusal == DecodedRefusal::OverLimit) return ReserveDecoded(bytes, what);  // the limit's own message
  return Failf("%s: %s would take %lld bytes decoded from %lld bytes of input; decoded data may take %lld bytes "
               "per input byte, and beyond that only %lld bytes for all decoders together (%lld in use)",
               info.name, what, static_cast<long long>(bytes), static_cast<long long>(inputBytes),
               static_cast<long long>(kDecodedBytesPerInputByte), static_cast<long long>(UnbackedDecodedLimit()),
               static_cast<long long>(SharedUnbackedDecodedPool().used.load()));
}

void FilterBase::ReturnDecodedPart(int64_t bytes) {
  if (bytes <= 0) return;
  if (bytes > decodedReserved_) bytes = decodedReserved_;
  const int64_t unbacked = bytes < unbackedReserved_ ? bytes : unbackedReserved_;
  ReturnDecodedMemory(bytes, unbacked);
  decodedReserved_ -= bytes;
  unbackedReserved_ -= unbacked;
}

void FilterBase::ReturnDecoded() {
  ReturnDecodedMemory(decodedReserved_, unbackedReserved_);
  decodedReserved_ = 0;
  unbackedReserved_ = 0;
}

void FilterBase::ReportProgress(double fraction) {
  if (progress != nullptr) progress(static_cast<float>(fraction));
}

}  // namespace vorlan
