// Running the Image decoder and encoder on bytes and planes held by a test,
// and pictures built with Qt's writer as an independent source.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/filter_harness.h"
#include "vorlan/contract.h"

namespace vorlan::test {

inline std::vector<uint8_t> ToBytes(const QByteArray& a) {
  return std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(a.constData()),
                              reinterpret_cast<const uint8_t*>(a.constData()) + a.size());
}

// `image` written by Qt as `format` ("png", "tiff", ...).
inline std::vector<uint8_t> WriteWithQt(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.setQuality(quality);
  if (!writer.write(image)) return {};
  return ToBytes(bytes);
}

// Runs a filter whose pin `in` reads one Bytes packet; the bytes stay alive
// as long as the run.
template <class Decoder>
struct BytesRun {
  Decoder filter;
  FakeOutput source;
  std::vector<uint8_t> bytes;

  BytesRun(std::vector<uint8_t> file, int32_t in) : bytes(std::move(file)) {
    filter.Initialize();
    Connect(filter, in, source.pin());
    source.Publish(MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Bytes, bytes.empty() ? nullptr : bytes.data()));
  }
};

// Runs a filter whose pins r, r + 1, r + 2 read three planes.
template <class Encoder>
struct PlanesRun {
  Encoder filter;
  FakeOutput sources[3];

  PlanesRun(const Plane& r, const Plane& g, const Plane& b, int32_t rPin) {
    filter.Initialize();
    const Plane* planes[3] = {&r, &g, &b};
    for (int k = 0; k < 3; ++k) {
      Connect(filter, rPin + k, sources[k].pin());
      sources[k].Publish(MakePacket(sizeof(Plane), PacketType::Plane, const_cast<Plane*>(planes[k])));
    }
  }

  std::vector<uint8_t> Output(int32_t pin) {
    const Packet& p = test::Output(filter, pin);
    const auto* data = static_cast<const uint8_t*>(p.data);
    return std::vector<uint8_t>(data, data + p.length);
  }
};

}  // namespace vorlan::test
