#include "headless/display_report.h"

#include <QImage>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "core/graph_document.h"

namespace vorlan::host {
namespace {

std::string Escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

// The plane on `pin`, or null when unconnected or nothing usable arrived.
const Plane* PlaneOn(const Pin* pin, std::string& problem, const std::string& name) {
  const Packet* packet = PeerPacket(pin);
  if (packet == nullptr) return nullptr;
  if (packet->type != static_cast<int32_t>(PacketType::Plane) || packet->data == nullptr ||
      packet->length != static_cast<int32_t>(sizeof(Plane))) {
    problem = "input \"" + name + "\" holds no plane";
    return nullptr;
  }
  const auto* plane = static_cast<const Plane*>(packet->data);
  const int64_t count = int64_t{plane->width} * plane->height;
  if (plane->width <= 0 || plane->height <= 0 || int64_t{plane->size} != count * 8 || plane->samples == nullptr) {
    problem = "input \"" + name + "\" holds an empty or malformed plane";
    return nullptr;
  }
  return plane;
}

}  // namespace

uint8_t SampleToByte(double value, double min, double max) {
  const double range = max - min;
  if (!(range != 0.0) || std::isnan(value)) return 0;
  const double scaled = (value - min) / range * 255.0;
  if (std::isnan(scaled) || scaled <= 0.0) return 0;
  if (scaled >= 255.0) return 255;
  return static_cast<uint8_t>(scaled);
}

const Packet* PeerPacket(const Pin* input) {
  if (input == nullptr || input->connected == 0 || input->peer == nullptr || input->peer->ready == 0) return nullptr;
  return &input->peer->packet;
}

bool FormatDisplayValue(const Packet& packet, std::string& value, std::string& type) {
  if (packet.data == nullptr) return false;
  char buffer[512];
  switch (static_cast<PacketType>(packet.type)) {
    case PacketType::String: {
      const auto* text = static_cast<const char*>(packet.data);
      value.assign(text, packet.length > 0 ? strnlen(text, static_cast<size_t>(packet.length)) : std::strlen(text));
      type = "String";
      return true;
    }
    case PacketType::Integer: {
      int32_t v = 0;
      std::memcpy(&v, packet.data, sizeof v);
      std::snprintf(buffer, sizeof buffer, "%i", v);
      value = buffer;
      type = "Integer";
      return true;
    }
    case PacketType::Float: {
      double v = 0;
      std::memcpy(&v, packet.data, sizeof v);
      // "%f" of the largest doubles needs over 300 characters: format into
      // a buffer that holds any of them.
      std::vector<char> big(static_cast<size_t>(std::snprintf(nullptr, 0, "%f", v)) + 1);
      std::snprintf(big.data(), big.size(), "%f", v);
      value = big.data();
      type = "Float";
      return true;
    }
    default:
      return false;
  }
}

void WriteTextDisplayLines(const GraphDocument& document, std::FILE* out) {
  for (int32_t i = 0; i < document.NodeCount(); ++i) {
    const FilterNode& node = *document.Node(i);
    if (node.filter->info.id != kTextDisplayId || node.filter->pinCount <= 2) continue;
    std::string value, type;
    const Packet* packet = PeerPacket(node.filter->pins[2]);
    if (packet == nullptr || !FormatDisplayValue(*packet, value, type)) value.clear(), type.clear();
    std::fprintf(out, "%s\t%s\t%s\n", Escape(node.caption).c_str(), Escape(value).c_str(), type.c_str());
  }
  std::fflush(out);
}

std::string SafeFileName(std::string_view caption) {
  std::string out;
  for (const char c : caption.substr(0, 64)) {
    const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                      c == '_' || c == '-';
    out += safe ? c : '_';
  }
  return out;
}

std::vector<std::string> WriteDisplaySnapshots(const GraphDocument& document, const std::string& dir,
                                               std::vector<std::string>& problems,
                                               std::vector<std::string>& failures) {
  std::vector<std::string> written;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir, ec)) {
    failures.push_back("cannot create the snapshot folder " + dir + (ec ? ": " + ec.message() : ""));
    return written;
  }
  for (int32_t i = 0; i < document.NodeCount(); ++i) {
    const FilterNode& node = *document.Node(i);
    const Filter& f = *node.filter;
    const bool rgb = f.info.id == kRgbDisplayId && f.pinCount >= 5;
    const bool mono = f.info.id == kMonoDisplayId && f.pinCount >= 3;
    if (!rgb && !mono) continue;
    const std::string label = "display \"" + node.caption + "\" (node " + std::to_string(node.nodeId) + ")";

    const Plane* planes[3] = {nullptr, nullptr, nullptr};
    const int channels = rgb ? 3 : 1;
    std::string problem;
    for (int c = 0; c < channels && problem.empty(); ++c) {
      const Pin* pin = f.pins[2 + c];
      planes[c] = PlaneOn(pin, problem, pin->name != nullptr ? pin->name : "");
    }
    const Plane* first = nullptr;
    for (const Plane* p : planes) {
      if (p == nullptr) continue;
      if (first == nullptr) first = p;
      if (p->width != first->width || p->height != first->height) problem = "its planes differ in size";
    }
    if (problem.empty() && first == nullptr) problem = "it received no plane";
    if (!problem.empty()) {
      problems.push_back(label + ": " + problem + "; no snapshot");
      continue;
    }
    QImage image(first->width, first->height, QImage::Format_RGB32);
    if (image.isNull()) {
      problems.push_back(label + ": the image is too large; no snapshot");
      continue;
    }
    for (int32_t y = 0; y < first->height; ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int32_t x = 0; x < first->width; ++x) {
        const size_t at = static_cast<size_t>(y) * static_cast<size_t>(first->width) + static_cast<size_t>(x);
        uint8_t v[3] = {0, 0, 0};
        for (int c = 0; c < channels; ++c) {
          if (planes[c] != nullptr) v[c] = SampleToByte(planes[c]->samples[at], planes[c]->min, planes[c]->max);
        }
        row[x] = rgb ? qRgb(v[0], v[1], v[2]) : qRgb(v[0], v[0], v[0]);
      }
    }
    // The name is built from the node id and safe characters only, so the
    // file always lands inside `dir`.
    const std::string path =
        (std::filesystem::path(dir) / (std::to_string(node.nodeId) + "-" + SafeFileName(node.caption) + ".png"))
            .string();
    if (!image.save(QString::fromStdString(path), "PNG")) {
      failures.push_back(label + ": cannot write " + path);
      continue;
    }
    written.push_back(path);
  }
  return written;
}

}  // namespace vorlan::host
