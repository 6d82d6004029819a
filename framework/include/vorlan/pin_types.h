// What a pin carries, for hosts that tell users before a run: the packet
// types an output publishes and an input accepts, as a mask with bit
// (1 << PacketType code) per type. 0 means the library does not say.
//
// Optional library export (the glue of export.h provides it):
//
//   uint32_t GetPinPacketTypes(Filter* filter, int32_t pin);
//
// [ui thread, no run active] Pins follow a filter's settings, so ask again
// after ApplyConfig or Configure.
#pragma once

#include <cstdint>

#include "vorlan/contract.h"

namespace vorlan {

constexpr uint32_t PacketTypeBit(PacketType type) { return 1u << static_cast<int32_t>(type); }

// Any packet read as its bytes: everything but the record types.
inline constexpr uint32_t kBytesLikePackets = PacketTypeBit(PacketType::Bytes) | PacketTypeBit(PacketType::Config) |
                                              PacketTypeBit(PacketType::String) | PacketTypeBit(PacketType::Integer) |
                                              PacketTypeBit(PacketType::Float);

inline constexpr uint32_t kBytesPacket = PacketTypeBit(PacketType::Bytes);
inline constexpr uint32_t kPlanePacket = PacketTypeBit(PacketType::Plane);
inline constexpr uint32_t kIntArrayPacket = PacketTypeBit(PacketType::IntArray);
inline constexpr uint32_t kFloatPacket = PacketTypeBit(PacketType::Float);
// What a value display shows: texts, integers and reals.
inline constexpr uint32_t kValuePackets =
    PacketTypeBit(PacketType::String) | PacketTypeBit(PacketType::Integer) | PacketTypeBit(PacketType::Float);
// Every data packet type, records included (the serializer's inputs).
inline constexpr uint32_t kAnyPacket = kBytesLikePackets | kPlanePacket | kIntArrayPacket;

using GetPinPacketTypesFn = uint32_t (*)(Filter* filter, int32_t pin);
inline constexpr const char* kGetPinPacketTypesName = "GetPinPacketTypes";

// "Bytes", "Config", "Plane", "String", "Integer", "Float", "IntArray"; "" otherwise.
inline const char* PacketTypeName(int32_t type) {
  switch (type) {
    case 0: return "Bytes";
    case 1: return "Config";
    case 2: return "Plane";
    case 5: return "String";
    case 6: return "Integer";
    case 7: return "Float";
    case 8: return "IntArray";
    default: return "";
  }
}

}  // namespace vorlan
