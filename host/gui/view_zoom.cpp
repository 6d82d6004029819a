#include "view_zoom.h"

#include <algorithm>

namespace vorlan::gui {

void ViewZoom::ZoomAt(double scale, QPointF anchor) {
  const QPointF client = ToClient(anchor);
  scale_ = std::clamp(scale, kMinScale, kMaxScale);
  shift_ = anchor - client * scale_;
}

void ViewZoom::Fit(const QRectF& content, const QSizeF& viewport, double margin) {
  if (content.isEmpty() || viewport.isEmpty()) {
    Reset();
    return;
  }
  const double w = std::max(1.0, viewport.width() - 2 * margin);
  const double h = std::max(1.0, viewport.height() - 2 * margin);
  scale_ = std::clamp(std::min({w / content.width(), h / content.height(), 1.0}), kMinScale, kMaxScale);
  const QPointF viewCentre(viewport.width() / 2, viewport.height() / 2);
  shift_ = viewCentre - content.center() * scale_;
}

}  // namespace vorlan::gui
