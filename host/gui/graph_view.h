// The graph view: draws the document's nodes, pins and edges and turns mouse
// and keyboard input into edits of the document (select, move, pan,
// connect, remove, configure, caption). Several nodes can be selected; the
// current one (SelectedNode) is what the status bar and Configure show.
// Edits are recorded in the window's undo history; zoom is the view's own.
//
// [ui thread] The view reads the filters' pins and states and calls their
// Configure; it never touches a filter while a run uses it: commands that
// change the graph ask IsLocked first and are refused with a word in the
// status bar.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <QImage>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "node_previews.h"
#include "view_zoom.h"

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

// The status-bar text of a refused command: "Delete refused: a run is in progress".
inline QString RefusalText(const QString& command, const QString& reason) {
  return command + QStringLiteral(" refused: ") + reason;
}

// Select: a rubber band (Ctrl or Shift and drag on empty space) selecting
// the nodes it touches.
enum class DragMode { Idle = 0, MoveOrPan = 1, Connect = 2, Select = 3 };

class GraphHistory;

class GraphView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kGridSize = 10;

  explicit GraphView(host::GraphDocument& document, QWidget* parent = nullptr);

  // Returns a non-empty reason while the graph must not change (a run is
  // active, or a killed run's worker has not left yet).
  void SetLockCheck(std::function<QString()> check) { lockCheck_ = std::move(check); }
  QString LockReason() const { return lockCheck_ ? lockCheck_() : QString(); }

  const host::GraphDocument& Document() const { return document_; }

  // Edits are recorded for undo when a history is set (the main window's).
  void SetHistory(GraphHistory* history) { history_ = history; }

  // Hit tests in client coordinates (document coordinates + origin), which
  // are widget coordinates at 100 % zoom.
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

  // Moves the selected nodes by (dx, dy) document pixels, as one edit.
  bool MoveSelected(int dx, int dy);

  // Forgets selection and drag state (after New, Open, or a removal).
  void ClearInteraction();
  // Selects the node at list index `index` alone (-1: none).
  void SelectNode(int index);
  // Selects the nodes with these ids (after a paste); the last is current.
  void SelectNodeIds(const std::vector<int32_t>& nodeIds);
  // Ids of every selected node; the current node (SelectedNode) is one.
  const std::set<int32_t>& SelectedIds() const { return selection_; }
  // Drops selected ids that no longer exist (after undo and redo).
  void ValidateSelection();

  // Zoom, a property of the view only.
  ViewZoom& Zoom() { return zoom_; }
  void ZoomIn();
  void ZoomOut();
  void ZoomToFit();
  void ZoomReset();
  // The document point at the middle of the visible area.
  QPoint VisibleCentre() const;
  // Client rectangle around every node (empty for an empty graph).
  QRect ContentRect() const;
  // Pins of other nodes a connection drawn from the selected pin may end
  // on: an output feeds inputs, "Cfg out" feeds "Cfg in".
  std::vector<PinHit> ConnectTargets() const;
  // Moves the origin by `step` client pixels (scroll bars, wheel).
  void ScrollBy(QPoint step);
  // Opens the node's context menu at the current node (Menu key).
  void ShowContextMenuOfSelected();

  int SelectedNode() const { return selectedNode_; }
  int SelectedPin() const { return selectedPin_; }
  int SelectedEdge() const { return selectedEdge_; }
  DragMode Mode() const { return mode_; }
  bool Snap() const { return snap_; }
  void SetSnap(bool on) { snap_ = on; }

  // Marks the node whose filter failed the last run (-1: none); the mark
  // stays until the next edit or run.
  void MarkFailedNode(int nodeId);
  int FailedNode() const { return failedNodeId_; }

  // The tooltip of the node at `p`: for a file-stream node its caption and
  // the full path of its file; empty elsewhere.
  QString NodeToolTip(QPoint p) const;

  // The tooltip of the pin at client point `p`: its name, kind, the packet
  // types it carries and what it is connected to; empty off pins.
  QString PinToolTip(QPoint p) const;

  // Curved edges (and hit tests along them) instead of straight lines.
  void SetCurvedEdges(bool on) {
    curved_ = on;
    update();
  }
  bool CurvedEdges() const { return curved_; }
  // Pictures of the planes nodes published in the last run, and whether
  // they are shown (View menu).
  void SetPreviews(std::map<int32_t, QImage> previews) {
    previews_ = std::move(previews);
    update();
  }
  const std::map<int32_t, QImage>& Previews() const { return previews_; }
  void SetShowPreviews(bool on) {
    showPreviews_ = on;
    update();
  }
  // The run's state in every node's frame (inactive: none shown).
  void SetRunProgress(const RunProgress& run) {
    run_ = run;
    update();
  }
  const RunProgress& Run() const { return run_; }

  // The edge under the mouse, -1 when none.
  int HoverEdge() const { return hoverEdge_; }

  // Status-bar texts for the selected node: "(caption) name major.minor [id]"
  // and "State : ..."; both empty when no node is selected.
  QString NodeDescription() const;
  QString NodeState() const;

 signals:
  // The document changed (nodes, edges, positions, origin, captions,
  // settings): the window marks itself modified.
  void DocumentChanged();
  // The origin moved (panning, scrolling): the file changes, but not the
  // graph, so this is no undoable edit.
  void OriginChanged();
  // Nodes moved while a run used the graph: not in the undo history.
  void UntrackedChange();
  // Zoom changed; scroll bars follow.
  void ViewChanged();
  // The selection changed; the window refreshes its status panes.
  void SelectionChanged();
  // A command was refused; `message` (see RefusalText) goes to the status bar.
  void Refused(const QString& message);
  // Quick add asked for at `widget` (view widget coordinates; `client` is
  // the same point in client coordinates), by Tab, a double-click on empty
  // canvas, or a connection from (fromNodeId, fromPin) dropped there
  // (-1, -1 otherwise).
  void QuickAddRequested(QPoint widget, QPoint client, int fromNodeId, int fromPin);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // True (and Refused emitted) while the graph is locked.
  bool Refuse(const QString& command = QStringLiteral("Edit"));
  host::FilterNode* SelectedNodePtr() const;
  QPoint ToClient(QPointF widget) const { return zoom_.ToClient(widget).toPoint(); }
  void BeginEdit();
  void EndEdit(const QString& text, int mergeKey = -1);
  void SetCurrent(int index);
  void ShowContextMenu(QPoint at);
  // While a connection is drawn over a pin it cannot meet, the reason goes
  // to the status bar (once per pin).
  void ExplainRefusedTarget(QPoint p);

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
  int failedNodeId_ = -1;
  bool snap_ = true;
  bool curved_ = false;
  int hoverEdge_ = -1;
  // While a connection is drawn: the pin under its end that it cannot meet,
  // whose reason the status bar already shows.
  PinHit refusedPin_;
  std::map<int32_t, QImage> previews_;
  bool showPreviews_ = true;
  RunProgress run_;
  std::set<int32_t> selection_;  // node ids
  bool collapseOnRelease_ = false;  // a click on one of several selected nodes
  GraphHistory* history_ = nullptr;
  ViewZoom zoom_;
};

}  // namespace vorlan::gui
