// One-call fractal coding of a plane: the HV encoder and the HV code
// packer, or the HV code unpacker and the HV decoder, created from the
// registry's plug-ins and run as a chain, so that a code is byte for byte
// the one a graph with the same filters and settings writes. GUI-free.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/registry.h"
#include "filter_chain.h"
#include "vorlan/contract.h"

namespace vorlan::python {

inline constexpr int32_t kHvEncoderId = 130;
inline constexpr int32_t kHvDecoderId = 140;
inline constexpr int32_t kHvPackerId = 1000;
inline constexpr int32_t kHvUnpackerId = 1010;

// Settings by field identifier, each value as a user would type it
// ("least_error", "4000", "0.985"); fields not named keep the filter's
// defaults.
using NamedSettings = std::vector<std::pair<std::string, std::string>>;

// Thrown for settings the filter does not have or refuses, and for missing
// plug-ins: nothing ran.
struct CodecRefusal {
  std::string message;
};

// The packed code of `plane` (borrowed for the call), under the encoder's
// and the packer's settings. `outcome` tells how the chain ended; the code
// is filled only when it ended Ok.
void EncodePlane(const host::Registry& registry, const Plane& plane, const NamedSettings& settings,
                 const NamedSettings& packerSettings, const std::function<bool()>& interrupt,
                 std::vector<uint8_t>& code, ChainOutcome& outcome);

struct DecodedPlane {
  int32_t width = 0;
  int32_t height = 0;
  double min = 0;  // the code's declared value range
  double max = 1;
  std::vector<double> samples;  // rows top first
};

// The plane a packed code decodes to. `data` is borrowed for the call.
void DecodeCode(const host::Registry& registry, const uint8_t* data, int32_t length, const NamedSettings& settings,
                const std::function<bool()>& interrupt, DecodedPlane& plane, ChainOutcome& outcome);

}  // namespace vorlan::python
