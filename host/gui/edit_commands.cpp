// The main window's Edit menu: undo and redo over the graph history, and
// the clipboard, which holds graph file bytes of the selected nodes and the
// edges among them. [ui thread]
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QStatusBar>
#include <algorithm>

#include "core/graph_document.h"
#include "core/graph_image.h"
#include "graph_view.h"
#include "graph_viewport.h"
#include "main_window.h"

#include "core/placement.h"
#include "undo_commands.h"

namespace vorlan::gui {

namespace {
constexpr int kStatusMessageMs = 4000;
}  // namespace

void MainWindow::CreateEditActions() {
  auto make = [this](const QString& text, const QString& tip, const QList<QKeySequence>& keys) {
    auto* action = new QAction(text, this);
    action->setStatusTip(tip);
    action->setShortcuts(keys);
    return action;
  };
  undoAction_ = make(QStringLiteral("&Undo"), QStringLiteral("Undo the last edit"), QKeySequence::keyBindings(QKeySequence::Undo));
  redoAction_ = make(QStringLiteral("&Redo"), QStringLiteral("Redo the previously undone edit"),
                     {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  cutAction_ = make(QStringLiteral("Cu&t"), QStringLiteral("Cut the selected filters to the clipboard"),
                    QKeySequence::keyBindings(QKeySequence::Cut));
  copyAction_ = make(QStringLiteral("&Copy"), QStringLiteral("Copy the selected filters to the clipboard"),
                     QKeySequence::keyBindings(QKeySequence::Copy));
  pasteAction_ = make(QStringLiteral("&Paste"), QStringLiteral("Insert the filters of the clipboard"),
                      QKeySequence::keyBindings(QKeySequence::Paste));
  duplicateAction_ = make(QStringLiteral("&Duplicate"), QStringLiteral("Copy the selected filters in place"),
                          {QKeySequence(Qt::CTRL | Qt::Key_D)});
  selectAllAction_ = make(QStringLiteral("Select &All"), QStringLiteral("Select every filter"),
                          QKeySequence::keyBindings(QKeySequence::SelectAll));
  zoomInAction_ = make(QStringLiteral("Zoom &In"), QStringLiteral("Enlarge the graph"),
                       {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  zoomOutAction_ = make(QStringLiteral("Zoom &Out"), QStringLiteral("Shrink the graph"),
                        {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
  zoomFitAction_ = make(QStringLiteral("Zoom to &Fit"), QStringLiteral("Show the whole graph"),
                        {QKeySequence(Qt::CTRL | Qt::Key_F)});
  zoomResetAction_ = make(QStringLiteral("&Actual Size"), QStringLiteral("Show the graph at 100 %"),
                          {QKeySequence(Qt::CTRL | Qt::Key_0)});
  connect(undoAction_, &QAction::triggered, this, [this] { Undo(); });
  connect(redoAction_, &QAction::triggered, this, [this] { Redo(); });
  connect(cutAction_, &QAction::triggered, this, [this] { CutSelection(); });
  connect(copyAction_, &QAction::triggered, this, [this] { CopySelection(); });
  connect(pasteAction_, &QAction::triggered, this, [this] { Paste(); });
  connect(duplicateAction_, &QAction::triggered, this, [this] { DuplicateSelection(); });
  connect(selectAllAction_, &QAction::triggered, this, &MainWindow::SelectAll);
  connect(zoomInAction_, &QAction::triggered, view_, &GraphView::ZoomIn);
  connect(zoomOutAction_, &QAction::triggered, view_, &GraphView::ZoomOut);
  connect(zoomFitAction_, &QAction::triggered, view_, &GraphView::ZoomToFit);
  connect(zoomResetAction_, &QAction::triggered, view_, &GraphView::ZoomReset);
  QUndoStack* stack = history_->Stack();
  undoAction_->setEnabled(false);
  redoAction_->setEnabled(false);
  connect(stack, &QUndoStack::canUndoChanged, undoAction_, &QAction::setEnabled);
  connect(stack, &QUndoStack::canRedoChanged, redoAction_, &QAction::setEnabled);
  connect(stack, &QUndoStack::undoTextChanged, this, [this](const QString& text) {
    undoAction_->setText(text.isEmpty() ? QStringLiteral("&Undo") : QStringLiteral("&Undo %1").arg(text));
  });
  connect(stack, &QUndoStack::redoTextChanged, this, [this](const QString& text) {
    redoAction_->setText(text.isEmpty() ? QStringLiteral("&Redo") : QStringLiteral("&Redo %1").arg(text));
  });
}

bool MainWindow::Undo() {
  const QString reason = LockReason();
  if (!reason.isEmpty()) {
    Refuse(RefusalText(QStringLiteral("Undo"), reason));
    return false;
  }
  if (history_->Open() || !history_->Stack()->canUndo()) return false;  // mid-drag, or nothing to undo
  history_->Stack()->undo();
  return true;
}

bool MainWindow::Redo() {
  const QString reason = LockReason();
  if (!reason.isEmpty()) {
    Refuse(RefusalText(QStringLiteral("Redo"), reason));
    return false;
  }
  if (history_->Open() || !history_->Stack()->canRedo()) return false;
  history_->Stack()->redo();
  return true;
}

bool MainWindow::CopySelection() {
  // Settings are read with GetConfig, which must not race a filter's Process.
  const QString reason = LockReason();
  if (!reason.isEmpty()) {
    Refuse(RefusalText(QStringLiteral("Copy"), reason));
    return false;
  }
  if (view_->SelectedIds().empty()) return false;
  std::string error;
  const host::GraphImage image = host::CopyNodes(*document_, view_->SelectedIds(), error);
  if (!error.empty()) {
    statusBar()->showMessage(QStringLiteral("Copy failed: ") + QString::fromStdString(error), kStatusMessageMs);
    return false;
  }
  const std::vector<uint8_t> bytes = host::GraphImageBytes(image);
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(kGraphMimeType),
                QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
  QApplication::clipboard()->setMimeData(data);
  return true;
}

bool MainWindow::CutSelection() { return CopySelection() && view_->RemoveSelected(); }

bool MainWindow::Paste() {
  const QString reason = LockReason();
  if (!reason.isEmpty()) {
    Refuse(RefusalText(QStringLiteral("Paste"), reason));
    return false;
  }
  const QMimeData* data = QApplication::clipboard()->mimeData();
  if (data == nullptr || !data->hasFormat(QString::fromLatin1(kGraphMimeType))) return false;
  const QByteArray bytes = data->data(QString::fromLatin1(kGraphMimeType));
  host::GraphImage image;
  std::string error;
  if (!host::ParseGraphImage(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()),
                             image, error) ||
      image.nodes.empty()) {
    statusBar()->showMessage(QStringLiteral("Paste failed: the clipboard holds no usable graph"), kStatusMessageMs);
    return false;
  }
  // Centre the pasted group in the view.
  int minX = image.nodes.front().x, maxX = minX, minY = image.nodes.front().y, maxY = minY;
  for (const host::NodeRecord& node : image.nodes) {
    minX = std::min(minX, node.x);
    maxX = std::max(maxX, node.x);
    minY = std::min(minY, node.y);
    maxY = std::max(maxY, node.y);
  }
  const QPoint centre = view_->VisibleCentre();
  constexpr int kHalfNode = 40;  // about half a node box: x, y are its top-left corner
  const int dx = (centre.x() - kHalfNode - (minX + maxX) / 2) / GraphView::kGridSize * GraphView::kGridSize;
  const int dy = (centre.y() - kHalfNode / 2 - (minY + maxY) / 2) / GraphView::kGridSize * GraphView::kGridSize;
  return PasteImage(image, dx, dy, QStringLiteral("Paste"));
}

bool MainWindow::DuplicateSelection() {
  const QString reason = LockReason();
  if (!reason.isEmpty()) {
    Refuse(RefusalText(QStringLiteral("Duplicate"), reason));
    return false;
  }
  if (view_->SelectedIds().empty()) return false;
  std::string error;
  const host::GraphImage image = host::CopyNodes(*document_, view_->SelectedIds(), error);
  if (!error.empty() || image.nodes.empty()) return false;
  return PasteImage(image, 0, 0, QStringLiteral("Duplicate"));
}

bool MainWindow::PasteImage(const host::GraphImage& image, int dx, int dy, const QString& text) {
  if (dx == 0 && dy == 0) dx = dy = 2 * GraphView::kGridSize;
  history_->Begin();
  std::vector<int32_t> ids;
  std::string error;
  if (!host::PasteNodes(*document_, image, dx, dy, ids, error)) {
    history_->Cancel();
    statusBar()->showMessage(text + QStringLiteral(" failed: ") + QString::fromStdString(error), kStatusMessageMs);
    view_->update();
    return false;
  }
  // The pasted nodes, as one group, go to the nearest place where they
  // cover no other node.
  const host::Position shift = host::NearestFreeOffset(*document_, ids, GraphView::kGridSize);
  for (const int32_t id : ids) {
    if (host::FilterNode* node = document_->NodeById(id)) {
      document_->MoveNode(*node, shift.x, shift.y);
      document_->MoveEdgeEndsOfNode(*node, shift.x, shift.y);
    }
  }
  history_->Commit(text);
  view_->SelectNodeIds(ids);
  UpdateModified();
  viewport_->UpdateBars();
  return true;
}

void MainWindow::SelectAll() {
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < document_->NodeCount(); ++i) ids.push_back(document_->Node(i)->nodeId);
  view_->SelectNodeIds(ids);
}

}  // namespace vorlan::gui
