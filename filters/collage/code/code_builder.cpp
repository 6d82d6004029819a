#include "code/code_builder.h"

#include "fractal/range_tree.h"

namespace vorlan::collage {

using fractal::RangeNode;

bool BuildCode(const RangeNode* root, int32_t nodeCount, const std::vector<RangeNode*>& pool,
               const FractalEncoderSettings& settings, int32_t width, int32_t height, double lo, double hi,
               FractalCode& code, std::string& reason) {
  code.Release();
  for (const RangeNode* r : pool) {
    if (r->done != 1) {
      reason = "a range of the partition was never accepted";
      return false;
    }
  }
  if (root == nullptr) {
    reason = "the partition is empty";
    return false;
  }
  // M tree nodes hold N leaves and M - N cuts; every leaf is in the pool.
  int64_t nodes = 0;
  int64_t leaves = 0;
  fractal::WalkPreOrder(root, [&](const RangeNode& n) {
    ++nodes;
    if (n.IsLeaf()) ++leaves;
  });
  if (nodes != nodeCount || leaves != static_cast<int64_t>(pool.size())) {
    reason = "the partition tree does not match its ranges";
    return false;
  }
  const int64_t n = leaves;
  const int64_t sizes[fractal::kCodeArrayCount] = {n, n, n, 2 * n, 2 * n, 2 * n, 2 * n, nodes, nodes - n};
  for (int32_t k = 0; k < fractal::kCodeArrayCount; ++k) {
    if (!code.arrays[k].Allocate(sizes[k])) {
      code.Release();
      reason = "out of memory for the code arrays";
      return false;
    }
  }

  code.header = fractal::CodeHeader{width,
                                    height,
                                    lo,
                                    hi,
                                    static_cast<double>(settings.maxScale),
                                    settings.scaleLevels,
                                    settings.offsetLevels,
                                    settings.stepX,
                                    settings.stepY};

  int32_t* si = code.SI().Values();
  int32_t* oi = code.OI().Values();
  int32_t* trn = code.TRN().Values();
  int32_t* dp = code.DP().Values();
  int32_t* df = code.DF().Values();
  int32_t* rp = code.RP().Values();
  int32_t* rs = code.RS().Values();
  int32_t* rtd = code.RTD().Values();
  int32_t* rtt = code.RTT().Values();
  int64_t k = 0;
  int64_t d = 0;
  int64_t t = 0;
  fractal::WalkPreOrder(root, [&](const RangeNode& node) {
    if (!node.IsLeaf()) {
      rtd[d++] = node.splitPosition;
      rtt[t++] = static_cast<int32_t>(node.splitDirection);
      return;
    }
    rtd[d++] = 0;
    const fractal::DomainCandidate& b = node.best;
    si[k] = b.scaleIndex;
    oi[k] = b.offsetIndex;
    trn[k] = b.Isometry();
    dp[2 * k] = b.dx / settings.stepX;
    dp[2 * k + 1] = b.dy / settings.stepY;
    df[2 * k] = b.fx;
    df[2 * k + 1] = b.fy;
    rp[2 * k] = node.x;
    rp[2 * k + 1] = node.y;
    rs[2 * k] = node.width;
    rs[2 * k + 1] = node.height;
    ++k;
  });
  // Trailing leaf zeros carry nothing a reader needs; the buffer keeps its size.
  IntArray& tree = code.RTD().Record();
  while (tree.count > 0 && tree.values[tree.count - 1] == 0) --tree.count;
  return true;
}

}  // namespace vorlan::collage
