#include "undo_commands.h"

#include <algorithm>
#include <string>

#include "core/graph_document.h"

namespace vorlan::gui {

GraphHistory::GraphHistory(host::GraphDocument& document, QObject* parent)
    : QObject(parent), document_(document) {}

void GraphHistory::Begin() {
  if (before_) return;
  host::GraphImage image;
  std::string error;
  if (host::CaptureGraph(document_, image, error)) before_ = std::move(image);
}

bool GraphHistory::Commit(const QString& text, int mergeKey) {
  if (!before_) return false;
  host::GraphImage before = std::move(*before_);
  before_.reset();
  host::GraphImage after;
  std::string error;
  if (!host::CaptureGraph(document_, after, error)) return false;
  // The origin is the scroll position, not part of an edit.
  after.originX = before.originX;
  after.originY = before.originY;
  if (after == before) return false;
  stack_.push(new GraphEditCommand(*this, std::move(before), std::move(after), text, mergeKey));
  return true;
}

void GraphHistory::Apply(const host::GraphImage& from, const host::GraphImage& to) {
  std::string error;
  if (!host::RestoreGraph(document_, to, error)) emit Failed(QString::fromStdString(error));
  std::vector<int32_t> appeared;
  for (const host::NodeRecord& node : to.nodes) {
    const bool before = std::any_of(from.nodes.begin(), from.nodes.end(),
                                    [&](const host::NodeRecord& old) { return old.nodeId == node.nodeId; });
    if (!before) appeared.push_back(node.nodeId);
  }
  emit Restored(appeared);
}

GraphEditCommand::GraphEditCommand(GraphHistory& history, host::GraphImage before, host::GraphImage after,
                                   const QString& text, int mergeKey)
    : history_(history), before_(std::move(before)), after_(std::move(after)), mergeKey_(mergeKey) {
  setText(text);
}

void GraphEditCommand::undo() {
  history_.Apply(after_, before_);
  done_ = false;
}

void GraphEditCommand::redo() {
  if (done_) return;  // pushed after the edit was made
  history_.Apply(before_, after_);
  done_ = true;
}

bool GraphEditCommand::mergeWith(const QUndoCommand* other) {
  if (mergeKey_ < 0 || other->id() != mergeKey_) return false;
  after_ = static_cast<const GraphEditCommand*>(other)->after_;
  return true;
}

}  // namespace vorlan::gui
