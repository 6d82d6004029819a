#include "synthetic_code.h"

#include <cstring>
#include <random>

namespace vorlan::attractor::test {

std::vector<uint8_t> SyntheticCode::HeaderBytes() const {
  std::vector<uint8_t> bytes(fractal::kCodeHeaderSize);
  std::memcpy(bytes.data(), &header, sizeof header);
  return bytes;
}

namespace {

struct Node {
  int32_t x, y, w, h;
};

// Pre-order cut of `node` into halves along its longer side.
void Cut(const Node& node, int32_t leafSize, SyntheticCode& code, std::vector<Node>& leaves) {
  if (node.w <= leafSize && node.h <= leafSize) {
    code.rtd.push_back(0);
    leaves.push_back(node);
    return;
  }
  const bool rows = node.h >= node.w;
  const int32_t position = (rows ? node.h : node.w) / 2;
  code.rtd.push_back(position);
  code.rtt.push_back(rows ? 0 : 1);
  if (rows) {
    Cut({node.x, node.y, node.w, position}, leafSize, code, leaves);
    Cut({node.x, node.y + position, node.w, node.h - position}, leafSize, code, leaves);
  } else {
    Cut({node.x, node.y, position, node.h}, leafSize, code, leaves);
    Cut({node.x + position, node.y, node.w - position, node.h}, leafSize, code, leaves);
  }
}

}  // namespace

SyntheticCode MakeSyntheticCode(const SyntheticOptions& o) {
  SyntheticCode code;
  code.header = fractal::CodeHeader{o.width, o.height, 0.0, 255.0, o.maxScale, o.levels, o.levels, 4, 4};
  std::vector<Node> leaves;
  Cut({0, 0, o.width, o.height}, o.leafSize, code, leaves);
  while (!code.rtd.empty() && code.rtd.back() == 0) code.rtd.pop_back();

  std::mt19937 rng(o.seed);
  auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  for (const Node& leaf : leaves) {
    code.rp.insert(code.rp.end(), {leaf.x, leaf.y});
    code.rs.insert(code.rs.end(), {leaf.w, leaf.h});
    const bool blank = std::uniform_real_distribution<double>(0, 1)(rng) < o.blankShare;
    const int32_t rotate = uniform(0, 1);
    int32_t fx = uniform(1, o.maxFactor);
    int32_t fy = uniform(1, o.maxFactor);
    const int32_t dw = fx * (rotate ? leaf.h : leaf.w);
    const int32_t dh = fy * (rotate ? leaf.w : leaf.h);
    if (blank || dw > o.width || dh > o.height) {
      code.si.push_back(-1);
      code.oi.push_back(-1);
      code.trn.push_back(0);
      code.dp.insert(code.dp.end(), {0, 0});
      code.df.insert(code.df.end(), {0, 0});
      continue;
    }
    code.si.push_back(uniform(0, o.levels - 1));
    code.oi.push_back(uniform(0, o.levels - 1));
    code.trn.push_back(rotate | (uniform(0, 3) << 1));
    code.dp.insert(code.dp.end(), {uniform(0, (o.width - dw) / 4), uniform(0, (o.height - dh) / 4)});
    code.df.insert(code.df.end(), {fx, fy});
  }
  return code;
}

SyntheticCode MakeTreeCode(int32_t width, int32_t height, std::vector<int32_t> rtd, std::vector<int32_t> rtt,
                           int32_t rangeCount) {
  SyntheticCode code;
  code.header = fractal::CodeHeader{width, height, 0.0, 255.0, 1.0, 256, 256, 8, 8};
  code.rtd = std::move(rtd);
  code.rtt = std::move(rtt);
  code.si.assign(rangeCount, -1);
  code.oi.assign(rangeCount, -1);
  code.trn.assign(rangeCount, 0);
  code.dp.assign(2 * rangeCount, 0);
  code.df.assign(2 * rangeCount, 0);
  return code;
}

CodeFeed::CodeFeed(const SyntheticCode& code, Geometry geometry) : geometry_(geometry), header_(code.HeaderBytes()) {
  for (const auto* values : {&code.si, &code.oi, &code.trn, &code.dp, &code.df, &code.rp, &code.rs, &code.rtd,
                             &code.rtt}) {
    arrays_.push_back(std::make_unique<vorlan::test::TestIntArray>(*values));
  }
  for (int i = 0; i < 10; ++i) outputs_.push_back(std::make_unique<vorlan::test::FakeOutput>());
}

void CodeFeed::ConnectTo(Filter& decoder) {
  for (int i = 0; i < 10; ++i) {
    const int32_t pin = FractalDecoderFilter::kHdrPin + i;
    const bool rectangle = pin == FractalDecoderFilter::kRpPin || pin == FractalDecoderFilter::kRsPin;
    const bool tree = pin == FractalDecoderFilter::kRtdPin || pin == FractalDecoderFilter::kRttPin;
    if ((rectangle && (geometry_ == kTree || geometry_ == kNoGeometry)) ||
        (tree && (geometry_ == kRectangles || geometry_ == kNoGeometry))) {
      continue;
    }
    vorlan::test::Connect(decoder, pin, outputs_[i]->pin());
  }
}

void CodeFeed::PublishAll(int32_t skipPin) {
  for (int i = 0; i < 10; ++i) {
    if (FractalDecoderFilter::kHdrPin + i == skipPin) continue;
    if (i == 0) {
      outputs_[0]->Publish(MakePacket(static_cast<int32_t>(header_.size()), PacketType::Bytes, header_.data()));
    } else {
      outputs_[i]->Publish(arrays_[i - 1]->AsPacket());
    }
  }
}

}  // namespace vorlan::attractor::test
