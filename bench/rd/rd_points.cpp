// Rate-distortion points of the fractal round trip, measured in one process
// as the example graphs make them: BMP -> Y grey -> HV encoder -> HV code
// packer -> unpacker -> HV decoder -> 8-bit values as the Bmp encoder
// writes them. PSNR is taken on those 8-bit values against the source's
// grey rounded to 8 bits (what the rival codecs are given), the rate on the
// packed stream's bytes. Prints one JSON object per point.
//
//   build/release/bench/rd_points IMAGE.bmp [--set FIELD=VALUE]... [--ranges N | --bpp B...]
//       [--decode FIELD=VALUE]... [--pack-version V] [--tries T] [--write OUT.pgm] [--label TEXT]
//       [--rich-coarse PIXELS] [--rich-keep K]
//
// --set takes encoder fields by name (mode, maxRanges, minRangeSize, minRangeFactor, maxRangeFactor,
// stepX, stepY, step (both), scaleLevels, offsetLevels, searchMode, threadCount, ...); defaults are the
// example graph's (Least error, factors 2, step 8, 32/128 levels, minRangeSize 2, one thread).
// --bpp searches maxRanges for each target rate with secant steps (as examples/fractal_roundtrip.py).
// --decode sets decoder fields (maxIterations, postProcessing).
// --rich-coarse and --rich-keep set the rich pool search's rule (searchMode 1: the coarse grid's step,
// about this many pixels, and the candidates refined around; 16 and 4 by default).
// Times: wall and processor seconds of the encoder's Process alone.
//
// Diagnostics (environment): RD_FIELD_BITS prints the packer's bits per range of each field,
// RD_RANGE_ERRORS lists every range with its transform and collage squared error (grey levels),
// RD_DUMP_CODE=FILE writes the code's arrays as JSON.
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <span>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "attractor_iteration.h"
#include "bmp_decoder_filter.h"
#include "decode_plan.h"
#include "bmp_encoder_filter.h"
#include "code_container.h"
#include "fractal_decoder_filter.h"
#include "fractal_encoder_filter.h"
#include "grayscale_filter.h"

namespace {

using namespace vorlan;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An output pin standing in for an upstream filter.
struct Source {
  Pin* pin = NewPin("source", PinKind::Output);
  ~Source() {
    Withdraw(pin);
    std::free(pin->name);
    delete pin;
  }
};

struct Picture {
  int32_t width = 0, height = 0;
  std::vector<double> plane;    // the Grayscale conversion's output, [0, 1]
  std::vector<uint8_t> grey8;   // Y of the BMP rounded to 8 bits
  double lo = 0.0, hi = 1.0;
};

Picture Load(const std::string& path) {
  std::vector<uint8_t> bmp = ReadFile(path);
  if (bmp.size() < 54) throw std::runtime_error(path + ": cannot read a BMP");
  Source file;
  Publish(file.pin, MakePacket(static_cast<int32_t>(bmp.size()), PacketType::Bytes, bmp.data()));
  BmpDecoderFilter reader;
  reader.Initialize();
  ConnectPins(reader.pins[BmpDecoderFilter::kInPin], file.pin);
  if (reader.Process() != Ok) throw std::runtime_error(path + ": the Bmp decoder refused it");
  GrayscaleFilter grey;
  grey.Initialize();
  GrayscaleSettings gs;
  gs.method = 2;  // Y, as the example graph
  grey.ApplyConfig(MakePacket(sizeof gs, PacketType::Config, &gs), ConfigForm::Native);
  for (int i = 0; i < 3; ++i) ConnectPins(grey.pins[GrayscaleFilter::kRPin + i], reader.pins[3 + i]);
  if (grey.Process() != Ok) throw std::runtime_error(path + ": the Grayscale conversion failed");
  const auto* plane = static_cast<const Plane*>(grey.pins[GrayscaleFilter::kOutPin]->packet.data);
  Picture p;
  p.width = plane->width;
  p.height = plane->height;
  p.lo = plane->min;
  p.hi = plane->max;
  p.plane.assign(plane->samples, plane->samples + int64_t{p.width} * p.height);
  // The reference grey exactly as vorlan_workbench.pictures.read_bmp_grey makes it.
  int32_t offset, width, height;
  std::memcpy(&offset, bmp.data() + 10, 4);
  std::memcpy(&width, bmp.data() + 18, 4);
  std::memcpy(&height, bmp.data() + 22, 4);
  const int32_t rows = std::abs(height);
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  p.grey8.resize(static_cast<size_t>(width) * rows);
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* row = bmp.data() + offset + stride * static_cast<size_t>(height > 0 ? rows - 1 - r : r);
    for (int32_t c = 0; c < width; ++c) {
      const uint8_t* px = row + 3 * c;
      const double y = 0.299 * px[2] + 0.587 * px[1] + 0.114 * px[0];
      p.grey8[static_cast<size_t>(r) * width + c] = static_cast<uint8_t>(std::clamp(std::nearbyint(y), 0.0, 255.0));
    }
  }
  return p;
}

// Encoder fields by name: byte offset and whether the field is a float.
struct Field {
  size_t offset;
  bool real;
};
const std::map<std::string, Field>& EncoderFields() {
  using S = collage::FractalEncoderSettings;
  static const std::map<std::string, Field> fields = {
      {"mode", {offsetof(S, mode), false}},           {"maxError", {offsetof(S, maxError), true}},
      {"maxDiffCheck", {offsetof(S, maxDiffCheck), false}}, {"maxRanges", {offsetof(S, maxRanges), false}},
      {"minRangeSize", {offsetof(S, minRangeSize), false}}, {"maxRangeSize", {offsetof(S, maxRangeSize), false}},
      {"minRangeFactor", {offsetof(S, minRangeFactor), false}},
      {"maxRangeFactor", {offsetof(S, maxRangeFactor), false}}, {"maxScale", {offsetof(S, maxScale), true}},
      {"offsetLevels", {offsetof(S, offsetLevels), false}}, {"scaleLevels", {offsetof(S, scaleLevels), false}},
      {"searchMode", {offsetof(S, searchMode), false}},   {"stepX", {offsetof(S, stepX), false}},
      {"stepY", {offsetof(S, stepY), false}},             {"coverMode", {offsetof(S, coverMode), false}},
      {"errorMode", {offsetof(S, errorMode), false}},     {"quality", {offsetof(S, quality), true}},
      {"threadCount", {offsetof(S, threadCount), false}},
      {"lambda", {offsetof(S, lambda), true}},            {"maxRate", {offsetof(S, maxRate), true}},
  };
  return fields;
}

void SetField(void* record, const Field& f, const std::string& value) {
  auto* at = static_cast<uint8_t*>(record) + f.offset;
  if (f.real) {
    const float v = std::strtof(value.c_str(), nullptr);
    std::memcpy(at, &v, 4);
  } else {
    const int32_t v = static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10));
    std::memcpy(at, &v, 4);
  }
}

struct Options {
  collage::FractalEncoderSettings encoder;
  attractor::FractalDecoderSettings decoder;
  int packVersion = codepack::kFormatVersion;
  std::string write;
  collage::RichSearchRule rich;
};

struct Point {
  int32_t ranges = 0;
  size_t bytes = 0;
  double bpp = 0, psnr = 0, planePsnr = 0, wall = 0, cpu = 0, decodeWall = 0;
  double collagePsnr = 0;  // one pass of the code applied to the source itself
  std::vector<uint8_t> decoded;
};

Point RoundTrip(const Picture& pic, const Options& o) {
  Point pt;
  Source in;
  Plane record{pic.width, pic.height, pic.lo, pic.hi, pic.width * pic.height * 8, const_cast<double*>(pic.plane.data())};
  Publish(in.pin, MakePacket(sizeof record, PacketType::Plane, &record));
  collage::FractalEncoderFilter encoder;
  encoder.Initialize();
  encoder.SetRichRule(o.rich);
  collage::FractalEncoderSettings es = o.encoder;
  encoder.ApplyConfig(MakePacket(sizeof es, PacketType::Config, &es), ConfigForm::Native);
  ConnectPins(encoder.pins[collage::kInPin], in.pin);
  const auto start = std::chrono::steady_clock::now();
  const double cpu = CpuSeconds();
  if (encoder.Process() != Ok) throw std::runtime_error("the encoder failed: " + std::string(encoder.FailureReason()));
  pt.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  pt.cpu = CpuSeconds() - cpu;

  codepack::CodeView view;
  const Packet& hdr = encoder.pins[collage::kHeaderPin]->packet;
  view.header = static_cast<const uint8_t*>(hdr.data);
  view.headerLength = hdr.length;
  std::span<const int32_t> arrays[fractal::kCodeArrayCount];
  for (int k = 0; k < fractal::kCodeArrayCount; ++k) {
    const auto* a = static_cast<const IntArray*>(encoder.pins[collage::kFirstArrayPin + k]->packet.data);
    arrays[k] = {a->values, static_cast<size_t>(a->count)};
  }
  std::vector<int32_t> si(arrays[0].begin(), arrays[0].end()), oi(arrays[1].begin(), arrays[1].end());
  view.si = si, view.oi = oi, view.trn = arrays[2], view.dp = arrays[3], view.df = arrays[4];
  view.rtd = arrays[7], view.rtt = arrays[8];
  std::vector<uint8_t> stream;
  const std::string packed = codepack::PackCode(view, stream, o.packVersion);
  if (!packed.empty()) throw std::runtime_error("the packer refused the code: " + packed);
  pt.bytes = stream.size();
  pt.bpp = 8.0 * static_cast<double>(stream.size()) / (static_cast<double>(pic.width) * pic.height);
  pt.ranges = static_cast<int32_t>(view.si.size());
  if (const char* dump = std::getenv("RD_DUMP_CODE")) {
    // The code's arrays as JSON, for looking at its statistics.
    std::ofstream out(dump);
    const char* names[] = {"SI", "OI", "TRN", "DP", "DF", "RP", "RS", "RTD", "RTT"};
    out << "{";
    for (int k = 0; k < fractal::kCodeArrayCount; ++k) {
      out << (k ? ", " : "") << "\"" << names[k] << "\": [";
      for (size_t i = 0; i < arrays[k].size(); ++i) out << (i ? "," : "") << arrays[k][i];
      out << "]";
    }
    out << "}\n";
  }
  if (std::getenv("RD_FIELD_BITS") != nullptr) {
    codepack::FieldBits bits;
    if (codepack::MeasureFieldBits(view, bits, o.packVersion).empty()) {
      const double n = static_cast<double>(pt.ranges);
      std::fprintf(stderr, "bits per range: tree %.2f has %.2f SI %.2f OI %.2f TRN %.2f DF %.2f DP %.2f total %.2f\n",
                   bits.tree / n, bits.hasTransform / n, bits.si / n, bits.oi / n, bits.trn / n, bits.df / n,
                   bits.dp / n, bits.Total() / n);
    }
  }

  codepack::UnpackedCode code;
  const std::string unpacked = codepack::UnpackCode(stream.data(), stream.size(), code);
  if (!unpacked.empty()) throw std::runtime_error("the unpacker refused the stream: " + unpacked);
  {
    // The collage: what the encoder fitted, before any iteration.
    attractor::CodeArrays arrays;
    arrays.si = code.si, arrays.oi = code.oi, arrays.trn = code.trn, arrays.dp = code.dp, arrays.df = code.df;
    arrays.useRectangles = true;
    arrays.rp = code.rp, arrays.rs = code.rs;
    attractor::DecodePlan plan;
    const std::string built = attractor::BuildDecodePlan(code.header, arrays, 1, 1, plan);
    if (!built.empty()) throw std::runtime_error("the code's plan: " + built);
    attractor::PassScratch scratch;
    scratch.Reserve(plan.ranges);
    std::vector<double> collage(pic.plane.size());
    attractor::ApplyPass(plan.ranges, pic.plane.data(), collage.data(), pic.width, scratch, [] { return false; });
    double se = 0;
    for (size_t k = 0; k < collage.size(); ++k) {
      const double e = (collage[k] - pic.plane[k]) / (pic.hi - pic.lo);
      se += e * e;
    }
    pt.collagePsnr = 10 * std::log10(1.0 / (se / static_cast<double>(collage.size())));
    if (std::getenv("RD_RANGE_ERRORS") != nullptr) {
      // Per range: size, transform and collage squared error, for diagnosis.
      for (size_t k = 0; k < plan.ranges.size(); ++k) {
        const attractor::DecoderRange& r = plan.ranges[k];
        double e2 = 0;
        for (int32_t i = 0; i < r.height; ++i)
          for (int32_t j = 0; j < r.width; ++j) {
            const size_t at = static_cast<size_t>(r.y + i) * pic.width + r.x + j;
            const double e = 255 * (collage[at] - pic.plane[at]);
            e2 += e * e;
          }
        std::fprintf(stderr, "R %d %d %d %d %d %d %d %d %d %d %.6f %.6f %.3f\n", r.x, r.y, r.width, r.height, r.dx, r.dy, r.fx,
                     r.fy, r.rotate * 1 + r.reverseRows * 2 + r.reverseColumns * 4, code.si[k], r.scale, r.offset, e2);
      }
    }
  }
  attractor::FractalDecoderFilter decoder;
  decoder.Initialize();
  attractor::FractalDecoderSettings ds = o.decoder;
  decoder.ApplyConfig(MakePacket(sizeof ds, PacketType::Config, &ds), ConfigForm::Native);
  Source pins[10];
  Publish(pins[0].pin, MakePacket(fractal::kCodeHeaderSize, PacketType::Bytes, &code.header));
  std::vector<int32_t>* lists[9] = {&code.si, &code.oi, &code.trn, &code.dp, &code.df,
                                    &code.rp, &code.rs, &code.rtd, &code.rtt};
  IntArray records[9];
  for (int k = 0; k < 9; ++k) {
    records[k] = IntArray{static_cast<int32_t>(lists[k]->size()), lists[k]->data()};
    Publish(pins[1 + k].pin, MakePacket(sizeof(IntArray), PacketType::IntArray, &records[k]));
  }
  // As the example decompress graph: the tree pins, not the rectangles.
  for (int k = 0; k < 10; ++k) {
    if (k == 6 || k == 7) continue;
    ConnectPins(decoder.pins[attractor::FractalDecoderFilter::kHdrPin + k], pins[k].pin);
  }
  const auto decodeStart = std::chrono::steady_clock::now();
  if (decoder.Process() != Ok) throw std::runtime_error("the decoder failed: " + std::string(decoder.FailureReason()));
  pt.decodeWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - decodeStart).count();
  const auto* out = static_cast<const Plane*>(decoder.pins[attractor::FractalDecoderFilter::kOutPin]->packet.data);
  const size_t n = pic.grey8.size();
  pt.decoded.resize(n);
  double se8 = 0, sePlane = 0;
  for (size_t k = 0; k < n; ++k) {
    pt.decoded[k] = ScaleToByte(out->samples[k], out->min, out->max);
    const double d = static_cast<double>(pt.decoded[k]) - pic.grey8[k];
    se8 += d * d;
    const double e = (out->samples[k] - pic.plane[k]) / (pic.hi - pic.lo);
    sePlane += e * e;
  }
  pt.psnr = 10 * std::log10(255.0 * 255.0 / (se8 / static_cast<double>(n)));
  pt.planePsnr = 10 * std::log10(1.0 / (sePlane / static_cast<double>(n)));
  return pt;
}

void Print(const Point& p, const Options& o, const std::string& label, double target, int encodes) {
  std::printf("{\"label\": \"%s\", \"target\": %g, \"encodes\": %d, \"ranges\": %d, \"bytes\": %zu, \"bpp\": %.5f, "
              "\"psnr\": %.4f, \"plane_psnr\": %.4f, \"collage_psnr\": %.4f, \"encode_wall\": %.3f, \"encode_cpu\": %.3f, "
              "\"decode_wall\": %.4f, \"threads\": %d}\n",
              label.c_str(), target, encodes, p.ranges, p.bytes, p.bpp, p.psnr, p.planePsnr, p.collagePsnr, p.wall, p.cpu,
              p.decodeWall, o.encoder.threadCount);
  std::fflush(stdout);
}

// maxRanges for a target rate: a first guess at 36 bits a range (or the last
// point's), then secant steps on the measured sizes.
Point AtRate(const Picture& pic, Options o, double target, int tries, double& bitsPerRange, int& encodes) {
  const double targetBits = target * pic.width * pic.height;
  std::vector<Point> tried;
  std::vector<int32_t> counts;
  auto attempt = [&](double ranges) {
    const int32_t n = std::max(1, static_cast<int32_t>(std::lround(ranges)));
    for (size_t k = 0; k < counts.size(); ++k) {
      if (counts[k] == n) return tried[k];
    }
    o.encoder.maxRanges = n;
    tried.push_back(RoundTrip(pic, o));
    counts.push_back(n);
    return tried.back();
  };
  Point p = attempt(targetBits / bitsPerRange);
  while (static_cast<int>(tried.size()) < tries && std::fabs(p.bpp - target) > 0.01 * target) {
    size_t a = 0, b = 1;
    std::vector<size_t> order(tried.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](size_t x, size_t y) {
      return std::fabs(tried[x].bpp - target) < std::fabs(tried[y].bpp - target);
    });
    double next;
    if (order.size() >= 2 && tried[order[0]].bytes != tried[order[1]].bytes) {
      a = order[0], b = order[1];
      const double n0 = counts[a], b0 = tried[a].bytes * 8.0, n1 = counts[b], b1 = tried[b].bytes * 8.0;
      next = n0 + (targetBits - b0) * (n1 - n0) / (b1 - b0);
    } else {
      next = counts[order[0]] * targetBits / (tried[order[0]].bytes * 8.0);
    }
    p = attempt(next);
  }
  size_t best = 0;
  for (size_t k = 1; k < tried.size(); ++k) {
    if (std::fabs(tried[k].bpp - target) < std::fabs(tried[best].bpp - target)) best = k;
  }
  bitsPerRange = tried[best].bytes * 8.0 / std::max(1, counts[best]);
  encodes = static_cast<int>(tried.size());
  return tried[best];
}

void WritePgm(const std::string& path, const Point& p, int32_t w, int32_t h) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << w << " " << h << "\n255\n";
  out.write(reinterpret_cast<const char*>(p.decoded.data()), static_cast<std::streamsize>(p.decoded.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s IMAGE.bmp [--set F=V]... [--decode F=V]... [--ranges N | --bpp B...] "
                         "[--pack-version V] [--tries T] [--write OUT.pgm] [--label TEXT] [--rich-coarse PIXELS] [--rich-keep K]\n", argv[0]);
    return 2;
  }
  Options o;
  auto& s = o.encoder;
  s.mode = 2;
  s.maxRanges = 4000;
  s.minRangeSize = 2;
  s.minRangeFactor = s.maxRangeFactor = 2;
  s.scaleLevels = 32;
  s.offsetLevels = 128;
  s.stepX = s.stepY = 8;
  s.errorMode = 1;
  s.quality = 0.985f;
  s.threadCount = 1;
  s.feedback = 0;
  o.decoder.postProcessing = 0;
  o.decoder.feedback = 0;
  std::vector<double> targets;
  int tries = 4;
  std::string label;
  try {
    for (int k = 2; k < argc; ++k) {
      const std::string a = argv[k];
      auto next = [&]() -> std::string {
        if (k + 1 >= argc) throw std::runtime_error(a + " needs a value");
        return argv[++k];
      };
      if (a == "--set" || a == "--decode") {
        const std::string kv = next();
        const size_t eq = kv.find('=');
        if (eq == std::string::npos) throw std::runtime_error(a + " needs FIELD=VALUE");
        const std::string name = kv.substr(0, eq), value = kv.substr(eq + 1);
        if (a == "--decode") {
          if (name == "maxIterations") o.decoder.maxIterations = std::atoi(value.c_str());
          else if (name == "postProcessing") o.decoder.postProcessing = std::atoi(value.c_str());
          else throw std::runtime_error("unknown decoder field " + name);
        } else if (name == "step") {
          s.stepX = s.stepY = std::atoi(value.c_str());
        } else if (name == "factors") {
          s.minRangeFactor = 2;
          s.maxRangeFactor = std::atoi(value.c_str());
        } else {
          const auto it = EncoderFields().find(name);
          if (it == EncoderFields().end()) throw std::runtime_error("unknown encoder field " + name);
          SetField(&s, it->second, value);
        }
      } else if (a == "--ranges") {
        s.maxRanges = std::atoi(next().c_str());
      } else if (a == "--bpp") {
        while (k + 1 < argc && argv[k + 1][0] != '-') targets.push_back(std::atof(argv[++k]));
      } else if (a == "--pack-version") {
        o.packVersion = std::atoi(next().c_str());
      } else if (a == "--rich-coarse") {
        o.rich.coarseStep = std::atoi(next().c_str());
      } else if (a == "--rich-keep") {
        o.rich.keep = std::atoi(next().c_str());
      } else if (a == "--tries") {
        tries = std::atoi(next().c_str());
      } else if (a == "--write") {
        o.write = next();
      } else if (a == "--label") {
        label = next();
      } else {
        throw std::runtime_error("unknown option " + a);
      }
    }
    const Picture pic = Load(argv[1]);
    if (targets.empty()) {
      const Point p = RoundTrip(pic, o);
      Print(p, o, label, 0.0, 1);
      if (!o.write.empty()) WritePgm(o.write, p, pic.width, pic.height);
      return 0;
    }
    double bitsPerRange = 36.0;
    for (double t : targets) {
      int encodes = 0;
      const Point p = AtRate(pic, o, t, tries, bitsPerRange, encodes);
      Print(p, o, label, t, encodes);
      if (!o.write.empty()) WritePgm(o.write + "." + std::to_string(t) + ".pgm", p, pic.width, pic.height);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rd_points: %s\n", e.what());
    return 1;
  }
  return 0;
}
