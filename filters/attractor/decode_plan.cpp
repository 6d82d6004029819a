#include "decode_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "fractal/domain_candidate.h"
#include "fractal/range_tree.h"
#include "fractal/uniform_quantizer.h"

namespace vorlan::attractor {

namespace {

// Above this many levels the table is not built; the needed levels are
// walked to instead (same additions, no memory).
constexpr int32_t kLevelTableLimit = 1 << 20;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

bool Inside(int64_t x, int64_t y, int64_t w, int64_t h, int64_t width, int64_t height) {
  return x >= 0 && y >= 0 && w >= 1 && h >= 1 && x + w <= width && y + h <= height;
}

std::string CheckCount(const char* name, size_t count, size_t expected, int perRange) {
  if (count == expected) return "";
  return Format("%s holds %zu values for %zu ranges (%d per range)", name, count, expected / perRange, perRange);
}

}  // namespace

std::string ParseHeader(const uint8_t* data, int32_t length, fractal::CodeHeader& header) {
  if (data == nullptr || length < fractal::kCodeHeaderSize) {
    return Format("the code header \"HDR\" holds %d bytes; it needs %d", data == nullptr ? 0 : length,
                  fractal::kCodeHeaderSize);
  }
  std::memcpy(&header, data, sizeof header);
  if (header.width < 1 || header.height < 1) {
    return Format("the code header gives an image of %d x %d pixels", header.width, header.height);
  }
  if (!std::isfinite(header.lo) || !std::isfinite(header.hi) || !std::isfinite(header.maxScale)) {
    return "the code header holds a value range or scale bound that is not a finite number";
  }
  // The encoder stores its float32 setting, always above 0; a bound beyond
  // float32 (1e300, say) spreads the levels so far apart that every
  // transform decodes to the clamped extremes.
  if (!(header.maxScale > 0.0) || header.maxScale > std::numeric_limits<float>::max()) {
    return Format("the code header's scale bound %g is not a positive float32 value", header.maxScale);
  }
  if (!(header.lo <= header.hi) || !std::isfinite(header.hi - header.lo)) {
    return Format("the code header's value range [%g, %g] is empty or too wide", header.lo, header.hi);
  }
  const double offsetMin = fractal::OffsetMin(header.lo, header.hi, header.maxScale);
  const double offsetMax = fractal::OffsetMax(header.lo, header.hi, header.maxScale);
  if (!std::isfinite(offsetMin) || !std::isfinite(offsetMax) || !std::isfinite(offsetMax - offsetMin)) {
    return "the code header's value range and scale bound give offsets that are not finite numbers";
  }
  return "";
}

std::vector<double> QuantizerLevels(double lo, double hi, int32_t levels, const std::vector<int32_t>& indices) {
  std::vector<double> values(indices.size());
  if (levels <= kLevelTableLimit) {
    fractal::UniformQuantizer quantizer;
    if (!quantizer.Build(lo, hi, levels)) throw std::bad_alloc();
    for (size_t k = 0; k < indices.size(); ++k) values[k] = quantizer.Level(indices[k]);
    return values;
  }
  // Same arithmetic as the table: level k is lo plus k additions of the step.
  std::vector<int32_t> wanted(indices);
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  std::vector<double> found(wanted.size());
  const double step = (hi - lo) / (levels - 1);
  double level = lo;
  int32_t at = 0;
  for (size_t w = 0; w < wanted.size(); ++w) {
    for (; at < wanted[w]; ++at) level += step;
    found[w] = level;
  }
  for (size_t k = 0; k < indices.size(); ++k) {
    const auto it = std::lower_bound(wanted.begin(), wanted.end(), indices[k]);
    values[k] = found[static_cast<size_t>(it - wanted.begin())];
  }
  return values;
}

int64_t FirstNonConverging(const DecodePlan& plan) {
  const auto copies = [](const DecoderRange& r) { return r.hasTransform && NonContracting(r.fx, r.fy, r.scale); };
  std::vector<size_t> open;
  for (size_t k = 0; k < plan.ranges.size(); ++k) {
    if (copies(plan.ranges[k])) open.push_back(k);
  }
  if (open.empty()) return -1;
  // Which range writes each output pixel; a copy settles once every pixel
  // of its domain belongs to a settled range.
  std::vector<int32_t> owner(static_cast<size_t>(plan.width) * static_cast<size_t>(plan.height), -1);
  for (size_t k = 0; k < plan.ranges.size(); ++k) {
    const DecoderRange& r = plan.ranges[k];
    for (int32_t i = 0; i < r.height; ++i) {
      int32_t* row = owner.data() + static_cast<size_t>(r.y + i) * plan.width + r.x;
      std::fill(row, row + r.width, static_cast<int32_t>(k));
    }
  }
  // A copy waits for every other copy its domain reaches; copies whose
  // waits all end settle (a topological order), the rest lie on or behind
  // a cycle of copies. Each domain is as large as its range, so the scan
  // below reads each pixel at most once per copy that covers it.
  std::vector<int32_t> slot(plan.ranges.size(), -1);
  for (size_t i = 0; i < open.size(); ++i) slot[open[i]] = static_cast<int32_t>(i);
  std::vector<int32_t> waits(open.size(), 0);
  std::vector<std::vector<int32_t>> waiters(open.size());
  std::vector<int32_t> seen(open.size(), -1);
  for (size_t i = 0; i < open.size(); ++i) {
    const DecoderRange& r = plan.ranges[open[i]];
    for (int32_t y = 0; y < r.domainHeight; ++y) {
      const int32_t* row = owner.data() + static_cast<size_t>(r.dy + y) * plan.width + r.dx;
      for (int32_t x = 0; x < r.domainWidth; ++x) {
        // A pixel no range writes stays black: it settles at once.
        const int32_t o = row[x] >= 0 ? slot[static_cast<size_t>(row[x])] : -1;
        if (o < 0 || seen[static_cast<size_t>(o)] == static_cast<int32_t>(i)) continue;
        seen[static_cast<size_t>(o)] = static_cast<int32_t>(i);
        ++waits[i];
        waiters[static_cast<size_t>(o)].push_back(static_cast<int32_t>(i));
      }
    }
  }
  std::vector<int32_t> ready;
  for (size_t i = 0; i < open.size(); ++i) {
    if (waits[i] == 0) ready.push_back(static_cast<int32_t>(i));
  }
  while (!ready.empty()) {
    const int32_t i = ready.back();
    ready.pop_back();
    for (int32_t w : waiters[static_cast<size_t>(i)]) {
      if (--waits[static_cast<size_t>(w)] == 0) ready.push_back(w);
    }
  }
  for (size_t i = 0; i < open.size(); ++i) {
    if (waits[i] > 0) return static_cast<int64_t>(open[i]);
  }
  return -1;
}

std::string BuildDecodePlan(const fractal::CodeHeader& header, const CodeArrays& code, int32_t resolutionX,
                            int32_t resolutionY, DecodePlan& plan) {
  plan = DecodePlan{};
  plan.header = header;
  const int64_t width = header.width;
  const int64_t height = header.height;
  const int64_t outWidth = width * resolutionX;
  const int64_t outHeight = height * resolutionY;
  if (outWidth * outHeight * 8 > std::numeric_limits<int32_t>::max()) {
    return Format("an output of %lld x %lld pixels (resolutionX %d, resolutionY %d) is too large for one plane",
                  static_cast<long long>(outWidth), static_cast<long long>(outHeight), resolutionX, resolutionY);
  }
  plan.width = static_cast<int32_t>(outWidth);
  plan.height = static_cast<int32_t>(outHeight);

  // Geometry in code pixels.
  std::vector<fractal::RangeRect> rects;
  if (code.useRectangles) {
    if (code.rp.size() != code.rs.size()) {
      return Format("RP holds %zu values and RS %zu; they must match", code.rp.size(), code.rs.size());
    }
    if (code.rp.size() % 2 != 0) return "RP and RS hold an odd number of values";
    rects.resize(code.rp.size() / 2);
    for (size_t k = 0; k < rects.size(); ++k) {
      const fractal::RangeRect r{code.rp[2 * k], code.rp[2 * k + 1], code.rs[2 * k], code.rs[2 * k + 1]};
      if (!Inside(r.x, r.y, r.width, r.height, width, height)) {
        return Format("range %zu (%d, %d, %d x %d) is not inside the %lld x %lld image", k, r.x, r.y, r.width,
                      r.height, static_cast<long long>(width), static_cast<long long>(height));
      }
      rects[k] = r;
    }
  } else {
    fractal::RangeTree tree;
    std::string reason;
    if (!fractal::RebuildTree(tree, header.width, header.height, code.rtd.data(),
                              static_cast<int32_t>(code.rtd.size()), code.rtt.data(),
                              static_cast<int32_t>(code.rtt.size()), reason)) {
      return reason;
    }
    rects = fractal::RangesOf(tree);
    if (code.rtt.size() != rects.size() - 1) {
      return Format("RTT holds %zu directions for a tree of %zu cuts", code.rtt.size(), rects.size() - 1);
    }
  }
  const size_t n = rects.size();
  if (n == 0) return "the code holds no ranges";
  for (const std::string& reason : {CheckCount("SI", code.si.size(), n, 1), CheckCount("OI", code.oi.size(), n, 1),
                                    CheckCount("TRN", code.trn.size(), n, 1),
                                    CheckCount("DP", code.dp.size(), 2 * n, 2),
                                    CheckCount("DF", code.df.size(), 2 * n, 2)}) {
    if (!reason.empty()) return reason;
  }

  plan.ranges.resize(n);
  std::vector<int32_t> scaleIndices, offsetIndices;
  std::vector<size_t> transformed;
  for (size_t k = 0; k < n; ++k) {
    const fractal::RangeRect& r = rects[k];
    DecoderRange& d = plan.ranges[k];
    d.x = r.x * resolutionX;
    d.y = r.y * resolutionY;
    d.width = r.width * resolutionX;
    d.height = r.height * resolutionY;
    const int32_t si = code.si[k];
    const int32_t oi = code.oi[k];
    if (si == -1 && oi == -1) {
      d.offset = (header.lo + header.hi) / 2;
      continue;
    }
    if (si < 0 || si >= header.scaleLevels) {
      return Format("range %zu has scale index %d outside the %d scale levels", k, si, header.scaleLevels);
    }
    if (oi < 0 || oi >= header.offsetLevels) {
      return Format("range %zu has offset index %d outside the %d offset levels", k, oi, header.offsetLevels);
    }
    const int32_t isometry = code.trn[k];
    if (isometry < 0 || isometry > 7) return Format("range %zu has isometry %d; TRN values are 0 to 7", k, isometry);
    const int32_t fx = code.df[2 * k];
    const int32_t fy = code.df[2 * k + 1];
    if (fx < 1 || fy < 1) return Format("range %zu has shrink factors %d x %d; they must be at least 1", k, fx, fy);
    d.hasTransform = true;
    d.rotate = (isometry & fractal::kIsometryRotate) != 0 ? 1 : 0;
    d.reverseRows = (isometry & fractal::kIsometryReverseRows) != 0 ? 1 : 0;
    d.reverseColumns = (isometry & fractal::kIsometryReverseColumns) != 0 ? 1 : 0;
    d.fx = fx;
    d.fy = fy;
    const int64_t dx = int64_t{code.dp[2 * k]} * header.stepX;
    const int64_t dy = int64_t{code.dp[2 * k + 1]} * header.stepY;
    const int64_t dw = int64_t{fx} * (d.rotate ? r.height : r.width);
    const int64_t dh = int64_t{fy} * (d.rotate ? r.width : r.height);
    if (!Inside(dx, dy, dw, dh, width, height)) {
      return Format("range %zu has its domain (%lld, %lld, %lld x %lld) outside the %lld x %lld image", k,
                    static_cast<long long>(dx), static_cast<long long>(dy), static_cast<long long>(dw),
                    static_cast<long long>(dh), static_cast<long long>(width), static_cast<long long>(height));
    }
    // The domain covers fx x fy output pixels per range pixel. With equal
    // resolution factors this is the code's domain scaled; with unequal
    // factors a turned domain changes shape and is moved back inside the
    // output when it would run past its edge.
    const int64_t outDw = int64_t{fx} * (d.rotate ? d.height : d.width);
    const int64_t outDh = int64_t{fy} * (d.rotate ? d.width : d.height);
    if (outDw > outWidth || outDh > outHeight) {
      return Format("range %zu: with resolution factors %d x %d its turned domain does not fit the output", k,
                    resolutionX, resolutionY);
    }
    d.domainWidth = static_cast<int32_t>(outDw);
    d.domainHeight = static_cast<int32_t>(outDh);
    d.dx = static_cast<int32_t>(std::min(dx * resolutionX, outWidth - outDw));
    d.dy = static_cast<int32_t>(std::min(dy * resolutionY, outHeight - outDh));
    scaleIndices.push_back(si);
    offsetIndices.push_back(oi);
    transformed.push_back(k);
  }

  if (!transformed.empty()) {
    if (header.scaleLevels < 2 || header.offsetLevels < 2) {
      return Format("the code header gives %d scale and %d offset levels; each needs at least 2",
                    header.scaleLevels, header.offsetLevels);
    }
    const double maxScale = header.maxScale;
    const double offsetMin = fractal::OffsetMin(header.lo, header.hi, maxScale);
    const double offsetMax = fractal::OffsetMax(header.lo, header.hi, maxScale);
    if (!std::isfinite(offsetMin) || !std::isfinite(offsetMax)) {
      return "the code header's value range and scale bound give offsets that are not finite numbers";
    }
    const std::vector<double> scales = QuantizerLevels(-maxScale, maxScale, header.scaleLevels, scaleIndices);
    const std::vector<double> offsets =
        QuantizerLevels(offsetMin, offsetMax, header.offsetLevels, offsetIndices);
    for (size_t t = 0; t < transformed.size(); ++t) {
      DecoderRange& d = plan.ranges[transformed[t]];
      d.scale = scales[t];
      d.offset = offsets[t];
      plan.maxAbsScale = std::max(plan.maxAbsScale, std::fabs(d.scale));
    }
  }
  return "";
}

}  // namespace vorlan::attractor
