// The graph view's zoom: a scale and a shift applied on top of the
// document's origin when drawing. Both belong to the view, not the
// document, so zooming never changes what a saved graph file holds.
//
//   widget point = (document point + origin) * scale + shift
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace vorlan::gui {

class ViewZoom {
 public:
  static constexpr double kMinScale = 0.1;
  static constexpr double kMaxScale = 8.0;
  static constexpr double kStep = 1.25;  // one Zoom In / Zoom Out, one wheel notch

  double Scale() const { return scale_; }
  QPointF Shift() const { return shift_; }

  // Widget pixels to the unzoomed client coordinates hit tests use, and back.
  QPointF ToClient(QPointF widget) const { return (widget - shift_) / scale_; }
  QPointF ToWidget(QPointF client) const { return client * scale_ + shift_; }

  // Sets the scale (clamped) keeping the client point under `anchor` fixed.
  void ZoomAt(double scale, QPointF anchor);
  void ZoomIn(QPointF anchor) { ZoomAt(scale_ * kStep, anchor); }
  void ZoomOut(QPointF anchor) { ZoomAt(scale_ / kStep, anchor); }
  // 100 %: the view as drawn without zoom.
  void Reset() {
    scale_ = 1.0;
    shift_ = QPointF();
  }
  // Shows `content` (client coordinates) whole and centred in `viewport`
  // with `margin` pixels around it, never enlarged beyond 100 %. An empty
  // content resets the zoom.
  void Fit(const QRectF& content, const QSizeF& viewport, double margin);

 private:
  double scale_ = 1.0;
  QPointF shift_;
};

}  // namespace vorlan::gui
