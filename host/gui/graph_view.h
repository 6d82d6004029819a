// The graph view: draws the document's nodes, pins and edges and turns mouse
// and keyboard input into edits of the document (select, move, pan,
// connect, remove, configure, caption).
//
// [ui thread] The view reads the filters' pins and states and calls their
// Configure; it never touches a filter while a run uses it: commands that
// change the graph ask IsLocked first and are refused with a word in the
// status bar.
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>
#include <functional>

class QMenu;

namespace vorlan::host {
class GraphDocument;
struct FilterNode;
}  // namespace vorlan::host

namespace vorlan::gui {

struct PinHit {
  int node = -1;  // node list index
  int pin = -1;   // index into the node filter's pins
};

enum class DragMode { Idle = 0, MoveOrPan = 1, Connect = 2 };

class GraphView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kGridSize = 10;

  explicit GraphView(host::GraphDocument& document, QWidget* parent = nullptr);

  // Returns a non-empty reason while the graph must not change (a run is
  // active, or a killed run's worker has not left yet).
  void SetLockCheck(std::function<QString()> check) { lockCheck_ = std::move(check); }
  QString LockReason() const { return lockCheck_ ? lockCheck_() : QString(); }

  // Hit tests in widget coordinates (document coordinates + origin).
  int HitNode(QPoint p) const;
  PinHit HitPin(QPoint p) const;
  int HitEdge(QPoint p) const;

  // Commands. Each is refused (returns false) while the graph is locked.
  bool RemoveSelected();
  bool ConfigureSelected();
  bool SetCaptionOfSelected();
  // The caption dialog as the Set Caption command shows it; tests replace it.
  void SetCaptionPrompt(std::function<bool(QString& caption)> prompt) {
    captionPrompt_ = std::move(prompt);
  }

  // Forgets selection and drag state (after New, Open, or a removal).
  void ClearInteraction();
  // Selects the node at list index `index` (-1: none).
  void SelectNode(int index);

  int SelectedNode() const { return selectedNode_; }
  int SelectedPin() const { return selectedPin_; }
  int SelectedEdge() const { return selectedEdge_; }
  DragMode Mode() const { return mode_; }
  bool Snap() const { return snap_; }
  void SetSnap(bool on) { snap_ = on; }

  // Status-bar texts for the selected node: "(caption) name major.minor [id]"
  // and "State : ..."; both empty when no node is selected.
  QString NodeDescription() const;
  QString NodeState() const;

 signals:
  // The document changed (nodes, edges, positions, origin, captions,
  // settings): the window marks itself modified.
  void DocumentChanged();
  // The selection changed; the window refreshes its status panes.
  void SelectionChanged();
  // A command was refused; `word` goes to the status bar.
  void Refused(const QString& word);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  bool Refuse();
  host::FilterNode* SelectedNodePtr() const;
  void ShowContextMenu(QPoint at);

 public:
  QMenu* ContextMenu() const { return contextMenu_; }

 private:

  host::GraphDocument& document_;
  std::function<QString()> lockCheck_;
  std::function<bool(QString&)> captionPrompt_;
  QMenu* contextMenu_ = nullptr;

  DragMode mode_ = DragMode::Idle;
  QPoint dragStart_;
  QPoint current_;
  QPoint last_;
  int selectedNode_ = -1;
  int selectedPin_ = -1;
  int selectedEdge_ = -1;
  bool snap_ = true;
};

}  // namespace vorlan::gui
