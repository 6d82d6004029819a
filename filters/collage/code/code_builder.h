// Turns a finished partition into the eleven pieces of the fractal code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder_settings.h"
#include "fractal/code_layout.h"
#include "fractal/range_node.h"
#include "vorlan/payloads.h"

namespace vorlan::collage {

// The published code. Every array stays owned here until the next run.
struct FractalCode {
  fractal::CodeHeader header{};
  // In pin order: SI, OI, TRN, DP, DF, RP, RS, RTD, RTT.
  OwnedIntArray arrays[fractal::kCodeArrayCount];

  OwnedIntArray& SI() { return arrays[0]; }
  OwnedIntArray& OI() { return arrays[1]; }
  OwnedIntArray& TRN() { return arrays[2]; }
  OwnedIntArray& DP() { return arrays[3]; }
  OwnedIntArray& DF() { return arrays[4]; }
  OwnedIntArray& RP() { return arrays[5]; }
  OwnedIntArray& RS() { return arrays[6]; }
  OwnedIntArray& RTD() { return arrays[7]; }
  OwnedIntArray& RTT() { return arrays[8]; }
  void Release() {
    for (auto& a : arrays) a.Release();
  }
};

// Fills `code` from the tree rooted at `root`, whose `nodeCount` nodes were
// each current once, and the pool of accepted ranges. Failed with a reason
// when a pooled range was never accepted, the counts disagree or memory
// runs out.
bool BuildCode(const fractal::RangeNode* root, int32_t nodeCount, const std::vector<fractal::RangeNode*>& pool,
               const FractalEncoderSettings& settings, int32_t width, int32_t height, double lo, double hi,
               FractalCode& code, std::string& reason);

}  // namespace vorlan::collage
