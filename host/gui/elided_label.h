// A status-bar pane: one line of text that is cut with an ellipsis when the
// pane is narrower than the text, the whole text then being its tooltip.
// Its size hint asks for a preferred width but it shrinks to almost nothing,
// so panes of a narrow window never paint over each other.
#pragma once

#include <QFrame>
#include <QString>

namespace vorlan::gui {

class ElidedLabel : public QFrame {
  Q_OBJECT

 public:
  explicit ElidedLabel(int preferredWidth = 0, QWidget* parent = nullptr);

  void setText(const QString& text);
  void clear() { setText(QString()); }
  QString text() const { return text_; }
  // What is painted: the text, or its elided form.
  QString shownText() const { return shown_; }
  bool isElided() const { return shown_ != text_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Elide();

  QString text_;
  QString shown_;
  int preferredWidth_;
};

}  // namespace vorlan::gui
