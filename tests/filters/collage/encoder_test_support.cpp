#include "encoder_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "code/code_builder.h"
#include "fractal/code_layout.h"
#include "fractal/uniform_quantizer.h"
#include "search/encoder_search.h"
#include "vorlan/config_stream.h"

namespace vorlan::collage::test {

std::vector<double> Pattern(int32_t w, int32_t h) {
  std::vector<double> v(static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      double value = 128 + 60 * std::sin(x * 0.21) * std::cos(y * 0.13) + 0.3 * (x - y);
      if (x > w / 3 && y > h / 2) value -= 70;
      v[static_cast<size_t>(y) * w + x] = std::clamp(value, 0.0, 255.0);
    }
  }
  return v;
}

std::vector<double> Camera(int32_t w, int32_t h) { return Grey("camera.bmp", w, h); }

std::vector<double> Grey(const char* file, int32_t w, int32_t h) {
  const std::vector<uint8_t> bmp = vorlan::test::ReadFile(vorlan::test::SharedDataPath(file));
  auto i32 = [&](size_t at) {
    int32_t v;
    std::memcpy(&v, bmp.data() + at, 4);
    return v;
  };
  if (bmp.size() < 54) throw std::runtime_error(std::string(file) + " missing");
  const int32_t offset = i32(10), width = i32(18), height = i32(22);
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  std::vector<double> v(static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = bmp.data() + offset + stride * static_cast<size_t>(height - 1 - y);  // bottom-up
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* p = row + 3 * x;
      v[static_cast<size_t>(y) * w + x] = (0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]) / 255.0;
    }
  }
  return v;
}

bool Code::operator==(const Code& o) const {
  if (std::memcmp(&header, &o.header, sizeof header) != 0) return false;
  for (int k = 0; k < fractal::kCodeArrayCount; ++k) {
    if (arrays[k] != o.arrays[k]) return false;
  }
  return true;
}

Code ReadCode(FractalEncoderFilter& filter) {
  Code code;
  const Packet& hdr = vorlan::test::Output(filter, kHeaderPin);
  if (hdr.length != fractal::kCodeHeaderSize || hdr.type != 0) throw std::runtime_error("bad header packet");
  std::memcpy(&code.header, hdr.data, sizeof code.header);
  for (int k = 0; k < fractal::kCodeArrayCount; ++k) {
    const Packet& p = vorlan::test::Output(filter, kFirstArrayPin + k);
    if (p.type != static_cast<int32_t>(PacketType::IntArray)) throw std::runtime_error("bad array packet");
    const auto* a = static_cast<const IntArray*>(p.data);
    code.arrays[k].assign(a->values, a->values + a->count);
  }
  return code;
}

Result Encode(FractalEncoderFilter& filter, std::vector<double> samples, int32_t w, int32_t h, double lo,
              double hi) {
  vorlan::test::TestPlane plane(w, h, lo, hi, std::move(samples));
  vorlan::test::FakeOutput source;
  vorlan::test::Connect(filter, kInPin, source.pin());
  source.Publish(plane.AsPacket());
  const Result r = filter.Process();
  DisconnectPin(filter.pins[kInPin]);
  return r;
}

Code SearchCode(const FractalEncoderSettings& settings, std::vector<double> samples, int32_t w, int32_t h,
                double lo, double hi, const RichSearchRule* rich) {
  EncoderSearch search;
  if (rich != nullptr) search.SetRichRule(*rich);
  std::string reason;
  std::atomic<bool> stop{false};
  Code code;
  if (search.Prepare(settings, samples.data(), w, h, lo, hi, reason, &stop) != Ok ||
      search.Run(stop, nullptr, reason) != Ok) {
    ADD_FAILURE() << reason;
    return code;
  }
  FractalCode built;
  HvPartition& p = search.Partition();
  if (!BuildCode(p.Root(), p.RangeCounter(), p.Pool(), settings, w, h, lo, hi, built, reason)) {
    ADD_FAILURE() << reason;
    return code;
  }
  code.header = built.header;
  for (int k = 0; k < fractal::kCodeArrayCount; ++k) {
    const IntArray& a = built.arrays[k].Record();
    code.arrays[k].assign(a.values, a.values + a.count);
  }
  return code;
}

std::string ValidateCode(const Code& c) {
  const int32_t W = c.header.width, H = c.header.height;
  const size_t n = c.SI().size();
  if (c.OI().size() != n || c.TRN().size() != n || c.DP().size() != 2 * n || c.DF().size() != 2 * n ||
      c.RP().size() != 2 * n || c.RS().size() != 2 * n || c.RTT().size() + 1 != n) {
    return "array counts disagree";
  }
  fractal::RangeTree tree;
  std::string reason;
  if (!fractal::RebuildTree(tree, W, H, c.RTD().data(), static_cast<int32_t>(c.RTD().size()), c.RTT().data(),
                            static_cast<int32_t>(c.RTT().size()), reason)) {
    return "tree: " + reason;
  }
  const auto ranges = fractal::RangesOf(tree);
  if (ranges.size() != n) return "tree and arrays disagree on the range count";
  std::vector<int> cover(static_cast<size_t>(W) * H, 0);
  for (size_t k = 0; k < n; ++k) {
    const auto& r = ranges[k];
    if (r.x != c.RP()[2 * k] || r.y != c.RP()[2 * k + 1] || r.width != c.RS()[2 * k] ||
        r.height != c.RS()[2 * k + 1]) {
      return "range " + std::to_string(k) + " differs between RP/RS and the tree";
    }
    for (int y = r.y; y < r.y + r.height; ++y)
      for (int x = r.x; x < r.x + r.width; ++x) ++cover[static_cast<size_t>(y) * W + x];
    if (c.SI()[k] == -1) continue;
    if (c.SI()[k] < 0 || c.SI()[k] >= c.header.scaleLevels || c.OI()[k] < 0 ||
        c.OI()[k] >= c.header.offsetLevels || c.TRN()[k] < 0 || c.TRN()[k] > 7) {
      return "range " + std::to_string(k) + " has indexes out of range";
    }
    const bool rot = (c.TRN()[k] & 1) != 0;
    const int64_t dw = int64_t{c.DF()[2 * k]} * (rot ? r.height : r.width);
    const int64_t dh = int64_t{c.DF()[2 * k + 1]} * (rot ? r.width : r.height);
    if (int64_t{c.DP()[2 * k]} * c.header.stepX + dw >= W || int64_t{c.DP()[2 * k + 1]} * c.header.stepY + dh >= H) {
      return "range " + std::to_string(k) + " has its domain outside the image";
    }
  }
  for (int v : cover)
    if (v != 1) return "ranges do not tile the image";
  return "";
}

std::vector<double> Decode(const Code& c, int32_t passes, const std::vector<double>* start) {
  const int32_t W = c.header.width, H = c.header.height;
  const double ms = c.header.maxScale;
  fractal::UniformQuantizer scales, offsets;
  if (!scales.Build(-ms, ms, c.header.scaleLevels) ||
      !offsets.Build(fractal::OffsetMin(c.header.lo, c.header.hi, ms), fractal::OffsetMax(c.header.lo, c.header.hi, ms),
                     c.header.offsetLevels)) {
    throw std::runtime_error("bad header");
  }
  std::vector<double> a(static_cast<size_t>(W) * H, 0.0), b = a;
  if (start != nullptr && start->size() == a.size()) a = *start;
  for (int pass = 0; pass < passes; ++pass) {
    for (size_t k = 0; k < c.SI().size(); ++k) {
      if (c.SI()[k] < 0) continue;
      const int x = c.RP()[2 * k], y = c.RP()[2 * k + 1], w = c.RS()[2 * k], h = c.RS()[2 * k + 1];
      const int fx = c.DF()[2 * k], fy = c.DF()[2 * k + 1], t = c.TRN()[k];
      const int dx = c.DP()[2 * k] * c.header.stepX, dy = c.DP()[2 * k + 1] * c.header.stepY;
      const double s = scales.Level(c.SI()[k]), o = offsets.Level(c.OI()[k]);
      for (int i = 0; i < h; ++i) {
        for (int j = 0; j < w; ++j) {
          const int si = (t & 2) ? h - 1 - i : i, sj = (t & 4) ? w - 1 - j : j;
          const int bx = (t & 1) ? dx + si * fx : dx + sj * fx;
          const int by = (t & 1) ? dy + (w - 1 - sj) * fy : dy + si * fy;
          double sum = 0;
          for (int v = 0; v < fy; ++v)
            for (int u = 0; u < fx; ++u) sum += a[static_cast<size_t>(by + v) * W + bx + u];
          b[static_cast<size_t>(y + i) * W + x + j] = o + s * sum / (fx * fy);
        }
      }
    }
    std::swap(a, b);
  }
  return a;
}

double Psnr(const std::vector<double>& a, const std::vector<double>& b, double peak) {
  double se = 0;
  for (size_t k = 0; k < a.size(); ++k) se += (a[k] - b[k]) * (a[k] - b[k]);
  const double mse = se / static_cast<double>(a.size());
  return 10 * std::log10(peak * peak / mse);
}

void ApplySettings(FractalEncoderFilter& filter, const FractalEncoderSettings& settings) {
  Packet p = NativeConfigPacket(&settings, sizeof settings);
  filter.ApplyConfig(p, ConfigForm::Native);
  FreePacket(p);
}

uint64_t CodeChecksum(const Code& code, size_t countBytes) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const void* data, size_t n) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t k = 0; k < n; ++k) {
      h ^= bytes[k];
      h *= 1099511628211ull;
    }
  };
  mix(&code.header, sizeof code.header);
  for (const auto& array : code.arrays) {
    const uint64_t count = array.size();
    mix(&count, countBytes);  // little-endian: the low bytes first
    mix(array.data(), array.size() * sizeof(int32_t));
  }
  return h;
}

}  // namespace vorlan::collage::test
