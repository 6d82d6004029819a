// The binary contract between the host `vorlan` and every filter library.
//
// Host and libraries are built separately against this one header, so the
// layout of every record below, the base fields of `Filter` and the order of
// its eight virtual operations form a binary interface. The static_asserts at
// the end keep them from changing by accident.
//
// Pointer-sized fields keep their natural 64-bit layout; packets that carry
// records use sizeof of the record as their length.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vorlan {

// Result codes returned by every filter operation and pin helper.
enum Result : int32_t {
  Ok = 0,
  OutOfMemory = 2,
  Stopped = 4,
  Failed = 5,
  InputNotReady = 20,
  InputNotConnected = 21,
  InvalidArgument = 22,
};

enum class FilterState : int32_t {
  None = 0,
  Ready = 1,
  Running = 2,
  Stopped = 3,
  Done = 4,
  Error = 5,  // the filter could not build its pins; it never runs
};

enum class PinKind : int32_t {
  Input = 1,
  Output = 2,
  ConfigIn = 3,   // shown as "Cfg in"
  ConfigOut = 4,  // shown as "Cfg out"
};

enum class PacketType : int32_t {
  Bytes = 0,
  Config = 1,
  Plane = 2,
  String = 5,
  Integer = 6,
  Float = 7,
  IntArray = 8,
};

enum class ConfigForm : int32_t {
  Native = 0,      // the filter's settings record in memory, one process only
  Serialized = 1,  // ConfigStream bytes, as stored in graph files
};

struct FilterLibraryInfo {
  const char* name;  // static text owned by the library
  int32_t major;
  int32_t minor;
  int32_t count;  // number of filter prototypes the library offers
};

struct FilterInfo {
  const char* name;  // static text owned by the library
  int32_t major;
  int32_t minor;
  int32_t id;  // filter kind, unique across libraries, stored in graph files
};

// A published payload. `data` stays owned by whoever allocated it.
struct Packet {
  int32_t length;  // payload bytes; for record payloads sizeof the record
  int32_t type;    // PacketType code
  void* data;
};

struct Pin {
  int32_t kind;  // PinKind code
  Pin* peer;     // connected input: the output it reads from
  Packet packet;  // output: what is published; input: the last read copy
  uint8_t connected;
  uint8_t ready;  // output: 1 while `packet` holds a published payload
  char* name;     // private copy, freed with the pin
};

// One image channel. Samples run row by row, top row first.
struct Plane {
  int32_t width;
  int32_t height;
  double min;  // nominal value range, not necessarily the extremes
  double max;
  int32_t size;  // width * height * 8
  double* samples;
};

struct IntArray {
  int32_t count;
  int32_t* values;
};

// Fraction of the current filter's work done, 0..1. [worker thread]
using ProgressCallback = void (*)(float fraction);

// The abstract filter. The host reads and writes the base fields directly.
class Filter {
 public:
  // [ui thread] Takes settings; the packet stays the caller's. 0 = accepted.
  virtual Result ApplyConfig(Packet packet, ConfigForm form) = 0;
  // [ui or worker thread] Returns new memory of the library; the caller
  // hands it back through the library's ReleaseConfig export when present.
  virtual Packet GetConfig(ConfigForm form) = 0;
  // [ui thread] Once, right after creation.
  virtual Result Initialize() = 0;
  // [worker thread] One run's work; called until it returns Ok.
  virtual Result Process() = 0;
  // [ui thread, no run active] Withdraws outputs and frees run buffers.
  virtual Result Reset() = 0;
  // [ui thread, any time] Asks a running Process to end early.
  virtual Result Stop() = 0;
  // [ui thread] Just before destruction.
  virtual Result Deinitialize() = 0;
  // [ui thread, no run active] Shows the settings dialog modally.
  virtual Result Configure() = 0;

  Pin** pins = nullptr;  // owned by the filter, in the order added
  int32_t pinCount = 0;
  std::atomic<FilterState> state{FilterState::None};
  void* owner = nullptr;                // the host's run context
  ProgressCallback progress = nullptr;  // installed by the host before a run
  FilterInfo info{};

  Filter() = default;
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

 protected:
  // Frees every pin and the pin array, never pin payloads. Filters are only
  // ever deleted through their concrete type inside their own library.
  ~Filter() {
    for (int32_t i = 0; i < pinCount; ++i) {
      if (pins[i] != nullptr) {
        std::free(pins[i]->name);
        delete pins[i];
      }
    }
    delete[] pins;
    pins = nullptr;
    pinCount = 0;
  }
};

// ---- Pin and packet helpers ----------------------------------------------

// A pin with a private copy of `name`, or null when memory runs out.
inline Pin* NewPin(const char* name, PinKind kind) {
  Pin* pin = new (std::nothrow) Pin{};
  if (pin == nullptr) return nullptr;
  pin->kind = static_cast<int32_t>(kind);
  pin->name = strdup(name != nullptr ? name : "");
  if (pin->name == nullptr) {
    delete pin;
    return nullptr;
  }
  return pin;
}

inline Result ReadInput(Pin* input) {
  if (input->connected == 0 || input->peer == nullptr) return InputNotConnected;
  if (input->peer->ready == 0) return InputNotReady;
  input->packet = input->peer->packet;
  return Ok;
}

inline void Publish(Pin* output, Packet packet) {
  output->packet = packet;
  output->ready = 1;
}

// The payload stays with its owner.
inline void Withdraw(Pin* pin) {
  pin->packet = Packet{0, 0, nullptr};
  pin->ready = 0;
}

// For payloads the pin owns (the "Cfg out" packet, allocated with malloc).
inline void WithdrawAndFree(Pin* pin) {
  std::free(pin->packet.data);
  Withdraw(pin);
}

// Host side: `input` reads from `output` from now on.
inline Result ConnectPins(Pin* input, Pin* output) {
  if (input == nullptr || output == nullptr) return InvalidArgument;
  input->peer = output;
  input->connected = 1;
  return Ok;
}

inline void DisconnectPin(Pin* pin) {
  pin->peer = nullptr;
  pin->connected = 0;
}

inline Packet MakePacket(int32_t length, PacketType type, void* data) {
  return Packet{length, static_cast<int32_t>(type), data};
}

// A malloc'ed copy of the payload; {0, 0, null} when memory runs out.
inline Packet CopyPacket(const Packet& packet) {
  if (packet.length <= 0 || packet.data == nullptr) return Packet{0, packet.type, nullptr};
  void* copy = std::malloc(static_cast<size_t>(packet.length));
  if (copy == nullptr) return Packet{0, 0, nullptr};
  std::memcpy(copy, packet.data, static_cast<size_t>(packet.length));
  return Packet{packet.length, packet.type, copy};
}

inline void FreePacket(Packet& packet) {
  std::free(packet.data);
  packet = Packet{0, 0, nullptr};
}

// ---- Exported entry points of every library ---------------------------------

using GetFilterLibraryInfoFn = FilterLibraryInfo (*)();
using GetFilterInfoFn = FilterInfo (*)(int32_t index);
using CreateFilterFn = Filter* (*)(int32_t index);
using DestroyFilterFn = void (*)(Filter* filter, int32_t index);
// Optional: a short text on why the filter's last operation failed, owned by
// the filter and valid until its next operation; null or "" when none.
using GetFailureReasonFn = const char* (*)(Filter* filter);
// Optional: hands a packet returned by GetConfig back to its library.
using ReleaseConfigFn = void (*)(Packet packet);

inline constexpr const char* kGetFilterLibraryInfoName = "GetFilterLibraryInfo";
inline constexpr const char* kGetFilterInfoName = "GetFilterInfo";
inline constexpr const char* kCreateFilterName = "CreateFilter";
inline constexpr const char* kDestroyFilterName = "DestroyFilter";
inline constexpr const char* kGetFailureReasonName = "GetFailureReason";
inline constexpr const char* kReleaseConfigName = "ReleaseConfig";

// ---- Layout guards -------------------------------------------------------------

static_assert(sizeof(void*) == 8, "the contract is laid out for 64-bit pointers");
static_assert(sizeof(FilterLibraryInfo) == 24 && offsetof(FilterLibraryInfo, count) == 16);
static_assert(sizeof(FilterInfo) == 24 && offsetof(FilterInfo, id) == 16);
static_assert(sizeof(Packet) == 16 && offsetof(Packet, type) == 4 && offsetof(Packet, data) == 8);
static_assert(sizeof(Pin) == 48 && offsetof(Pin, peer) == 8 && offsetof(Pin, packet) == 16 &&
              offsetof(Pin, connected) == 32 && offsetof(Pin, ready) == 33 &&
              offsetof(Pin, name) == 40);
static_assert(sizeof(Plane) == 40 && offsetof(Plane, min) == 8 && offsetof(Plane, max) == 16 &&
              offsetof(Plane, size) == 24 && offsetof(Plane, samples) == 32);
static_assert(sizeof(IntArray) == 16 && offsetof(IntArray, values) == 8);
static_assert(sizeof(std::atomic<FilterState>) == 4 && std::atomic<FilterState>::is_always_lock_free,
              "state must stay a plain 4-byte word in the base layout");

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
static_assert(offsetof(Filter, pins) == 8 && offsetof(Filter, pinCount) == 16 &&
              offsetof(Filter, state) == 20 && offsetof(Filter, owner) == 24 &&
              offsetof(Filter, progress) == 32 && offsetof(Filter, info) == 40 &&
              sizeof(Filter) == 64,
              "Filter base fields are a binary interface");
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace vorlan
