// Undo and redo of graph edits. An edit is remembered as the graph before
// and after it (GraphImage: the graph file's records); undoing restores the
// earlier image through the core's RestoreGraph, which keeps the filters of
// untouched nodes alive. Scrolling (the origin) is not an edit.
//
// [ui thread] Edits and restores happen only while no run uses the graph;
// the window refuses Undo and Redo during a run like any other edit.
#pragma once

#include <QObject>
#include <QString>
#include <QUndoCommand>
#include <QUndoStack>
#include <optional>
#include <vector>

#include "core/graph_image.h"

namespace vorlan::host {
class GraphDocument;
}

namespace vorlan::gui {

class GraphHistory : public QObject {
  Q_OBJECT

 public:
  GraphHistory(host::GraphDocument& document, QObject* parent = nullptr);

  QUndoStack* Stack() { return &stack_; }

  // Remembers the graph before an edit. A second Begin before Commit or
  // Cancel keeps the first image, so an edit made of steps is one command.
  void Begin();
  // Records the edit when the graph differs from the image Begin took.
  // Consecutive commits with the same `mergeKey` (>= 0) merge into one
  // command (a run of arrow-key moves). True when something was recorded.
  bool Commit(const QString& text, int mergeKey = -1);
  void Cancel() { before_.reset(); }
  bool Open() const { return before_.has_value(); }

  // Brings the document from `from` to `to`; emits Restored with the ids of
  // the nodes that came back (so the view can select them), or Failed.
  void Apply(const host::GraphImage& from, const host::GraphImage& to);

 signals:
  void Restored(const std::vector<int32_t>& appeared);
  void Failed(const QString& error);

 private:
  host::GraphDocument& document_;
  QUndoStack stack_;
  std::optional<host::GraphImage> before_;
};

// One recorded edit. The edit was already made when it is pushed, so the
// first redo does nothing.
class GraphEditCommand : public QUndoCommand {
 public:
  GraphEditCommand(GraphHistory& history, host::GraphImage before, host::GraphImage after,
                   const QString& text, int mergeKey);
  void undo() override;
  void redo() override;
  int id() const override { return mergeKey_; }
  bool mergeWith(const QUndoCommand* other) override;

 private:
  GraphHistory& history_;
  host::GraphImage before_;
  host::GraphImage after_;
  int mergeKey_;
  bool done_ = true;
};

}  // namespace vorlan::gui
