// Helpers for driving the editor's real widgets in tests: mouse gestures on
// the graph view, waiting while events are processed, answering modal
// dialogs, and the plug-in registry of the build tree.
#pragma once

#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/graph_document.h"
#include "core/registry.h"

namespace vorlan::gui::test {

// The libraries of the build tree, loaded once for the whole program.
const host::Registry& BuildRegistry();
// Prototype id of the first prototype with this filter id, -1 when the
// plug-in was not built.
int PrototypeOf(int32_t filterId);

// Processes events until `done` holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Runs `act` on the next modal dialog that opens (polled every 10 ms) while
// the returned watcher lives.
[[nodiscard]] std::unique_ptr<QTimer> OnNextModal(std::function<void(QWidget*)> act);

void Press(QWidget* w, QPoint p, Qt::MouseButton button = Qt::LeftButton);
void MoveTo(QWidget* w, QPoint p, Qt::MouseButtons held = Qt::LeftButton);
void Release(QWidget* w, QPoint p, Qt::MouseButton button = Qt::LeftButton);
// Press at `from`, move in `steps` steps to `to`, release there.
void Drag(QWidget* w, QPoint from, QPoint to, int steps = 5);

// Widget position of the centre of a node's pin square, and of its box.
QPoint PinCentre(const host::GraphDocument& document, const host::FilterNode& node, int pin);
QPoint BoxPoint(const host::GraphDocument& document, const host::FilterNode& node, int dx = 5, int dy = 5);

// A Serialized settings packet holding one text (the file streams).
std::vector<uint8_t> TextSettings(const std::string& text);
bool ApplyBytes(host::FilterNode& node, const std::vector<uint8_t>& bytes);

}  // namespace vorlan::gui::test
