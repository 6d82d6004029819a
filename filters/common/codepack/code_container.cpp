#include "code_container.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "code_model.h"
#include "crc32.h"

namespace vorlan::codepack {

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t GetU32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The checks the HV decoder makes on the header before it builds ranges.
std::string CheckHeader(const fractal::CodeHeader& h) {
  if (h.width < 1 || h.height < 1) return Format("the code header gives an image of %d x %d pixels", h.width, h.height);
  if (!std::isfinite(h.lo) || !std::isfinite(h.hi) || !std::isfinite(h.maxScale)) {
    return "the code header holds a value range or scale bound that is not a finite number";
  }
  // The decoder's output plane must fit one packet (int32 byte count).
  if (int64_t{h.width} * h.height * 8 > INT32_MAX) {
    return Format("the code header gives an image of %d x %d pixels, too large for one plane", h.width, h.height);
  }
  return "";
}

// The checks the decoder makes once a code has a transform.
std::string CheckTransformHeader(const fractal::CodeHeader& h) {
  if (h.scaleLevels < 2 || h.offsetLevels < 2) {
    return Format("the code header gives %d scale and %d offset levels; each needs at least 2", h.scaleLevels,
                  h.offsetLevels);
  }
  if (!std::isfinite(fractal::OffsetMin(h.lo, h.hi, h.maxScale)) ||
      !std::isfinite(fractal::OffsetMax(h.lo, h.hi, h.maxScale))) {
    return "the code header's value range and scale bound give offsets that are not finite numbers";
  }
  return "";
}

// Replays "RTD"/"RTT" as the decoder does (each node in pre-order takes the
// next RTD entry while there is one) into the walk's node list and leaf
// rectangles, refusing what the decoder refuses.
std::string FlattenTree(const fractal::CodeHeader& h, std::span<const int32_t> rtd, std::span<const int32_t> rtt,
                        WalkedCode& walked) {
  std::vector<fractal::RangeRect> pending{fractal::RangeRect{0, 0, h.width, h.height}};
  size_t i = 0, t = 0;
  while (!pending.empty()) {
    const fractal::RangeRect r = pending.back();
    pending.pop_back();
    const int32_t position = i < rtd.size() ? rtd[i] : 0;
    if (i < rtd.size()) ++i;
    if (position == 0) {
      walked.nodes.push_back(NodeCut{0, 0});
      walked.rects.push_back(r);
      continue;
    }
    if (t >= rtt.size()) return "the partition tree has more cuts than directions";
    const int32_t direction = rtt[t++];
    if (direction != 0 && direction != 1) return "the partition tree holds an unknown cut direction";
    const int32_t side = direction == 0 ? r.height : r.width;
    if (position < 0 || position >= side) return "the partition tree holds a cut outside its range";
    walked.nodes.push_back(NodeCut{position, direction});
    fractal::RangeRect first = r, second = r;
    if (direction == 0) {
      first.height = position;
      second.y = r.y + position;
      second.height = r.height - position;
    } else {
      first.width = position;
      second.x = r.x + position;
      second.width = r.width - position;
    }
    pending.push_back(second);
    pending.push_back(first);
  }
  if (i < rtd.size()) return "the partition tree has entries beyond its last range";
  if (rtt.size() != walked.rects.size() - 1) {
    return Format("RTT holds %zu directions for a tree of %zu cuts", rtt.size(), walked.rects.size() - 1);
  }
  return "";
}

std::string CheckCount(const char* name, size_t count, size_t ranges, size_t perRange) {
  if (count == ranges * perRange) return "";
  return Format("%s holds %zu values for %zu ranges (%zu per range)", name, count, ranges, perRange);
}

// Takes the transform of range k from the arrays, checked as the decoder
// checks it, plus what the packed form needs to store it at all.
std::string ReadRange(const fractal::CodeHeader& h, const CodeView& code, size_t k, const fractal::RangeRect& r,
                      RangeFields& f) {
  f.si = code.si[k];
  f.oi = code.oi[k];
  f.trn = code.trn[k];
  f.dpx = code.dp[2 * k];
  f.dpy = code.dp[2 * k + 1];
  f.fx = code.df[2 * k];
  f.fy = code.df[2 * k + 1];
  if (f.si == -1 && f.oi == -1) {
    if (f.trn != 0 || f.dpx != 0 || f.dpy != 0 || f.fx != 0 || f.fy != 0) {
      return Format("range %zu has no transform but nonzero TRN, DP or DF values, which the packed form drops", k);
    }
    return "";
  }
  if (f.si < 0 || f.si >= h.scaleLevels) {
    return Format("range %zu has scale index %d outside the %d scale levels", k, f.si, h.scaleLevels);
  }
  if (f.oi < 0 || f.oi >= h.offsetLevels) {
    return Format("range %zu has offset index %d outside the %d offset levels", k, f.oi, h.offsetLevels);
  }
  if (f.trn < 0 || f.trn > 7) return Format("range %zu has isometry %d; TRN values are 0 to 7", k, f.trn);
  if (f.fx < 1 || f.fy < 1) {
    return Format("range %zu has shrink factors %d x %d; they must be at least 1", k, f.fx, f.fy);
  }
  if (h.stepX < 1 || h.stepY < 1) {
    return Format("the code's domain steps are %d x %d; the packed form needs steps of at least 1", h.stepX,
                  h.stepY);
  }
  const bool rotate = (f.trn & fractal::kIsometryRotate) != 0;
  const int64_t dx = int64_t{f.dpx} * h.stepX;
  const int64_t dy = int64_t{f.dpy} * h.stepY;
  const int64_t dw = int64_t{f.fx} * (rotate ? r.height : r.width);
  const int64_t dh = int64_t{f.fy} * (rotate ? r.width : r.height);
  if (dx < 0 || dy < 0 || dx + dw > h.width || dy + dh > h.height) {
    return Format("range %zu has its domain (%lld, %lld, %lld x %lld) outside the %d x %d image", k,
                  static_cast<long long>(dx), static_cast<long long>(dy), static_cast<long long>(dw),
                  static_cast<long long>(dh), h.width, h.height);
  }
  return "";
}

std::string CheckRectangles(const char* name, std::span<const int32_t> values,
                            const std::vector<fractal::RangeRect>& rects, bool sizes) {
  if (values.size() != 2 * rects.size()) {
    return Format("%s holds %zu values for the tree's %zu ranges", name, values.size(), rects.size());
  }
  for (size_t k = 0; k < rects.size(); ++k) {
    const int32_t a = sizes ? rects[k].width : rects[k].x;
    const int32_t b = sizes ? rects[k].height : rects[k].y;
    if (values[2 * k] != a || values[2 * k + 1] != b) {
      return Format("%s disagrees with the partition tree at range %zu", name, k);
    }
  }
  return "";
}

// Checks `code` and lays it out for the walk.
std::string PrepareWalk(const CodeView& code, fractal::CodeHeader& h, WalkedCode& walked, WalkLimits& limits) {
  if (code.header == nullptr || code.headerLength < fractal::kCodeHeaderSize) {
    return Format("the code header \"HDR\" holds %d bytes; it needs %d", code.header == nullptr ? 0 : code.headerLength,
                  fractal::kCodeHeaderSize);
  }
  std::memcpy(&h, code.header, sizeof h);
  std::string reason = CheckHeader(h);
  if (!reason.empty()) return reason;

  reason = FlattenTree(h, code.rtd, code.rtt, walked);
  if (!reason.empty()) return reason;
  const size_t n = walked.rects.size();
  for (const std::string& r : {CheckCount("SI", code.si.size(), n, 1), CheckCount("OI", code.oi.size(), n, 1),
                               CheckCount("TRN", code.trn.size(), n, 1), CheckCount("DP", code.dp.size(), n, 2),
                               CheckCount("DF", code.df.size(), n, 2)}) {
    if (!r.empty()) return r;
  }
  if (code.hasRp && !(reason = CheckRectangles("RP", code.rp, walked.rects, false)).empty()) return reason;
  if (code.hasRs && !(reason = CheckRectangles("RS", code.rs, walked.rects, true)).empty()) return reason;

  walked.ranges.resize(n);
  bool anyTransform = false;
  int32_t minSide = std::min(h.width, h.height);
  for (size_t k = 0; k < n; ++k) {
    const fractal::RangeRect& r = walked.rects[k];
    minSide = std::min({minSide, r.width, r.height});
    reason = ReadRange(h, code, k, r, walked.ranges[k]);
    if (!reason.empty()) return reason;
    anyTransform = anyTransform || walked.ranges[k].si != -1;
  }
  if (anyTransform && !(reason = CheckTransformHeader(h)).empty()) return reason;
  limits = WalkLimits{h.width, h.height, minSide, static_cast<int64_t>(n), h.scaleLevels, h.offsetLevels,
                      h.stepX, h.stepY};
  return "";
}

}  // namespace

std::string PackCode(const CodeView& code, std::vector<uint8_t>& out, int version) {
  out.clear();
  if (version < 1 || version > kLatestFormatVersion) {
    return Format("the packer writes format versions 1 to %u, not %d", kLatestFormatVersion, version);
  }
  fractal::CodeHeader h{};
  WalkedCode walked;
  WalkLimits limits;
  std::string reason = PrepareWalk(code, h, walked, limits);
  if (!reason.empty()) return reason;
  limits.version = version;
  limits.header = &h;
  const size_t n = walked.rects.size();
  const int32_t minSide = limits.minSide;

  out.insert(out.end(), kMagic, kMagic + 4);
  PutU16(out, static_cast<uint16_t>(version));
  PutU16(out, 0);
  out.insert(out.end(), code.header, code.header + fractal::kCodeHeaderSize);
  PutU32(out, static_cast<uint32_t>(n));
  PutU32(out, static_cast<uint32_t>(code.rtd.size()));
  PutU32(out, static_cast<uint32_t>(minSide));
  const size_t payloadLengthAt = out.size();
  PutU32(out, 0);

  RangeEncoder encoder(out);
  CodeModel model;
  reason = model.Walk(encoder, limits, walked);
  if (!reason.empty()) {
    out.clear();
    return reason;
  }
  encoder.Finish();
  const size_t payload = out.size() - kFixedHeaderSize;
  if (out.size() + kTrailerSize > static_cast<size_t>(INT32_MAX)) {
    out.clear();
    return "the packed code would not fit one packet";
  }
  for (int i = 0; i < 4; ++i) out[payloadLengthAt + i] = static_cast<uint8_t>(payload >> (8 * i));
  PutU32(out, Crc32(out.data(), out.size()));
  return "";
}

std::string UnpackCode(const uint8_t* data, size_t length, UnpackedCode& code, bool verifyChecksum,
                       const ReserveFn& reserve) {
  code = UnpackedCode{};
  const size_t minimum = kFixedHeaderSize + kTrailerSize;
  if (data == nullptr || length < minimum) {
    return Format("the packed code holds %zu bytes; its fixed part alone needs %zu", data == nullptr ? 0 : length,
                  minimum);
  }
  if (std::memcmp(data, kMagic, 4) != 0) return "the input is not a packed HV code (no \"HVPK\" mark)";
  const uint16_t version = GetU16(data + 4);
  if (version < 1 || version > kLatestFormatVersion) {
    return Format("the packed code has format version %u; this unpacker reads versions 1 to %u", version,
                  kLatestFormatVersion);
  }
  if (GetU16(data + 6) != 0) return "the packed code sets flags this unpacker does not know";
  const uint8_t* counts = data + 8 + fractal::kCodeHeaderSize;
  const uint32_t rangeCount = GetU32(counts);
  const uint32_t rtdCount = GetU32(counts + 4);
  const uint32_t minSide = GetU32(counts + 8);
  const uint32_t payload = GetU32(counts + 12);
  const size_t present = length - minimum;
  if (payload > present) {
    return Format("the packed code is cut short: its payload needs %u bytes, %zu are present", payload, present);
  }
  if (payload < present) {
    return Format("the packed code has %zu bytes after its end", present - payload);
  }
  if (verifyChecksum && Crc32(data, length - kTrailerSize) != GetU32(data + length - kTrailerSize)) {
    return "the packed code is damaged: its checksum does not match";
  }

  fractal::CodeHeader& h = code.header;
  std::memcpy(&h, data + 8, sizeof h);
  std::string reason = CheckHeader(h);
  if (!reason.empty()) return reason;
  // Geometry first: every range is at least minSide on each side.
  if (minSide < 1 || minSide > static_cast<uint32_t>(std::min(h.width, h.height))) {
    return Format("the packed code gives a smallest range side of %u in a %d x %d image", minSide, h.width, h.height);
  }
  const int64_t m = minSide;
  const int64_t geometryLimit = (h.width / m) * (h.height / m);
  if (rangeCount < 1 || rangeCount > geometryLimit) {
    return Format("the packed code claims %u ranges; a %d x %d image holds 1 to %lld ranges of side %u", rangeCount,
                  h.width, h.height, static_cast<long long>(geometryLimit), minSide);
  }
  if (int64_t{rangeCount} > kMaxRangesPerPayloadByte * payload) {
    return Format("the packed code claims %u ranges in a payload of %u bytes", rangeCount, payload);
  }
  if (int64_t{rtdCount} > 2 * int64_t{rangeCount} - 1) {
    return Format("the packed code claims %u RTD entries for a tree of %u ranges", rtdCount, rangeCount);
  }

  // The nine arrays, the walk's nodes and rectangles: well under 64 bytes a range.
  constexpr int64_t kBytesPerRange = 64;
  // Version 2 adds the offset predictor's grid: two int64 per cell.
  const int64_t predictorBytes = version == 2 ? 16 * OffsetPredictor::kMaxCells : 0;
  if (reserve && !reserve(kBytesPerRange * int64_t{rangeCount} + predictorBytes)) {
    return Format("the %u ranges the packed code claims are over the memory limit", rangeCount);
  }

  // Room for what the checks allow, up to a size any real code fills;
  // beyond it the arrays grow only as decoded ranges arrive.
  WalkedCode walked;
  const size_t expected = std::min<size_t>(rangeCount, size_t{1} << 20);
  walked.nodes.reserve(2 * expected - 1);
  walked.ranges.reserve(expected);
  walked.rects.reserve(expected);
  RangeDecoder decoder(data + kFixedHeaderSize, payload);
  if (!decoder.LeadingByteOk()) return "the packed code's payload does not start as a coded stream";
  const WalkLimits limits{h.width,       h.height, static_cast<int32_t>(minSide), int64_t{rangeCount}, h.scaleLevels,
                          h.offsetLevels, h.stepX,  h.stepY,                      version,             &h};
  CodeModel model;
  reason = model.Walk(decoder, limits, walked);
  if (!reason.empty()) return reason;
  if (!decoder.FinishedCleanly()) return "the packed code's payload does not end where its last range does";

  // Trailing zeros of RTD beyond the stored count are dropped; the stored
  // count cannot drop a cut.
  size_t lastCut = 0;
  for (size_t i = 0; i < walked.nodes.size(); ++i) {
    if (walked.nodes[i].position != 0) lastCut = i + 1;
  }
  if (rtdCount < lastCut) {
    return Format("the packed code keeps %u RTD entries but its tree has a cut at entry %zu", rtdCount, lastCut);
  }
  bool anyTransform = false;
  for (const RangeFields& f : walked.ranges) anyTransform = anyTransform || f.si != -1;
  if (anyTransform && !(reason = CheckTransformHeader(h)).empty()) return reason;

  const size_t n = walked.ranges.size();
  code.rtd.resize(rtdCount);
  for (size_t i = 0; i < rtdCount; ++i) code.rtd[i] = walked.nodes[i].position;
  code.rtt.reserve(n - 1);
  for (const NodeCut& c : walked.nodes) {
    if (c.position != 0) code.rtt.push_back(c.direction);
  }
  code.si.resize(n);
  code.oi.resize(n);
  code.trn.resize(n);
  code.dp.resize(2 * n);
  code.df.resize(2 * n);
  code.rp.resize(2 * n);
  code.rs.resize(2 * n);
  for (size_t k = 0; k < n; ++k) {
    const RangeFields& f = walked.ranges[k];
    const fractal::RangeRect& r = walked.rects[k];
    code.si[k] = f.si;
    code.oi[k] = f.oi;
    code.trn[k] = f.trn;
    code.dp[2 * k] = f.dpx;
    code.dp[2 * k + 1] = f.dpy;
    code.df[2 * k] = f.fx;
    code.df[2 * k + 1] = f.fy;
    code.rp[2 * k] = r.x;
    code.rp[2 * k + 1] = r.y;
    code.rs[2 * k] = r.width;
    code.rs[2 * k + 1] = r.height;
  }
  return "";
}

std::string MeasureFieldBits(const CodeView& code, FieldBits& bits, int version) {
  if (version < 1 || version > kLatestFormatVersion) return Format("there is no format version %d", version);
  fractal::CodeHeader h{};
  WalkedCode walked;
  WalkLimits limits;
  std::string reason = PrepareWalk(code, h, walked, limits);
  if (!reason.empty()) return reason;
  limits.version = version;
  limits.header = &h;
  CostMeter meter;
  CodeModel model;
  reason = model.Walk(meter, limits, walked);
  if (!reason.empty()) return reason;
  const auto at = [&](CodeField f) { return meter.bits[static_cast<size_t>(f)]; };
  bits = FieldBits{at(CodeField::Tree), at(CodeField::HasTransform), at(CodeField::SI), at(CodeField::OI),
                   at(CodeField::TRN),  at(CodeField::DF),           at(CodeField::DP)};
  return "";
}

CodeView ViewOf(const UnpackedCode& code) {
  CodeView v;
  v.header = reinterpret_cast<const uint8_t*>(&code.header);
  v.headerLength = fractal::kCodeHeaderSize;
  v.si = code.si;
  v.oi = code.oi;
  v.trn = code.trn;
  v.dp = code.dp;
  v.df = code.df;
  v.hasRp = v.hasRs = true;
  v.rp = code.rp;
  v.rs = code.rs;
  v.rtd = code.rtd;
  v.rtt = code.rtt;
  return v;
}

}  // namespace vorlan::codepack
