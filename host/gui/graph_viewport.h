// The graph view with scroll bars. The bars show where the visible part
// lies within the nodes' extent (plus what is on screen) and move the
// document's origin, as panning does; they hide when everything is visible.
#pragma once

#include <QWidget>

class QScrollBar;

namespace vorlan::gui {

class GraphView;

class GraphViewport : public QWidget {
  Q_OBJECT

 public:
  // Takes `view` into its layout.
  explicit GraphViewport(GraphView* view, QWidget* parent = nullptr);

  QScrollBar* Horizontal() const { return horizontal_; }
  QScrollBar* Vertical() const { return vertical_; }
  // Recomputes the bars' ranges from the graph, origin and zoom.
  void UpdateBars();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Scrolled();

  GraphView* view_;
  QScrollBar* horizontal_;
  QScrollBar* vertical_;
  bool syncing_ = false;
};

}  // namespace vorlan::gui
