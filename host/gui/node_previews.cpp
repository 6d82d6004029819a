#include "node_previews.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/graph_document.h"

namespace vorlan::gui {

namespace {

bool HoldsTogether(const Plane& p) {
  if (p.width <= 0 || p.height <= 0 || p.samples == nullptr) return false;
  const int64_t count = static_cast<int64_t>(p.width) * p.height;
  return count <= (int64_t{1} << 31) / 8 && static_cast<int64_t>(p.size) >= count * 8;
}

QSize PreviewSize(const Plane& p, int side) {
  const double scale = std::min(1.0, static_cast<double>(side) / std::max(p.width, p.height));
  return QSize(std::max(1, static_cast<int>(p.width * scale)), std::max(1, static_cast<int>(p.height * scale)));
}

int Level(const Plane& p, int x, int y, QSize size) {
  const int sx = static_cast<int>(static_cast<int64_t>(x) * p.width / size.width());
  const int sy = static_cast<int>(static_cast<int64_t>(y) * p.height / size.height());
  const double v = p.samples[static_cast<size_t>(sy) * static_cast<size_t>(p.width) + static_cast<size_t>(sx)];
  const double range = p.max - p.min;
  const double t = range > 0 && std::isfinite(v) ? (v - p.min) / range : 0.0;
  return std::clamp(static_cast<int>(std::lround(t * 255)), 0, 255);
}

const Plane* PlaneOf(const Pin* pin) {
  if (pin == nullptr || pin->kind != static_cast<int32_t>(PinKind::Output) || pin->ready == 0) return nullptr;
  const Packet& packet = pin->packet;
  if (packet.type != static_cast<int32_t>(PacketType::Plane) || packet.data == nullptr ||
      packet.length < static_cast<int32_t>(sizeof(Plane)))
    return nullptr;
  const auto* plane = static_cast<const Plane*>(packet.data);
  return HoldsTogether(*plane) ? plane : nullptr;
}

}  // namespace

QImage PlanePreview(const Plane& plane, int side) {
  if (!HoldsTogether(plane) || side <= 0) return QImage();
  const QSize size = PreviewSize(plane, side);
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < size.height(); ++y)
    for (int x = 0; x < size.width(); ++x) {
      const int v = Level(plane, x, y, size);
      image.setPixel(x, y, qRgb(v, v, v));
    }
  return image;
}

QImage ColourPreview(const Plane& r, const Plane& g, const Plane& b, int side) {
  if (!HoldsTogether(r) || !HoldsTogether(g) || !HoldsTogether(b) || side <= 0) return QImage();
  if (r.width != g.width || r.width != b.width || r.height != g.height || r.height != b.height) return QImage();
  const QSize size = PreviewSize(r, side);
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < size.height(); ++y)
    for (int x = 0; x < size.width(); ++x)
      image.setPixel(x, y, qRgb(Level(r, x, y, size), Level(g, x, y, size), Level(b, x, y, size)));
  return image;
}

std::map<int32_t, QImage> CollectPreviews(const host::GraphDocument& document) {
  std::map<int32_t, QImage> previews;
  for (int32_t i = 0; i < document.NodeCount(); ++i) {
    const host::FilterNode* node = document.Node(i);
    if (node == nullptr || node->filter == nullptr) continue;
    std::vector<const Plane*> planes;
    for (int32_t k = 0; k < node->filter->pinCount; ++k)
      if (const Plane* p = PlaneOf(node->filter->pins[k])) planes.push_back(p);
    if (planes.empty()) continue;
    QImage image = planes.size() >= 3 ? ColourPreview(*planes[0], *planes[1], *planes[2]) : QImage();
    if (image.isNull()) image = PlanePreview(*planes[0]);
    if (!image.isNull()) previews.emplace(node->nodeId, std::move(image));
  }
  return previews;
}

}  // namespace vorlan::gui
