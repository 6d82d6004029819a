#include "editor_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>
#include <cstring>

#include "support/filter_harness.h"

namespace vorlan::gui::test {

const host::Registry& BuildRegistry() {
  static host::Registry* registry = new host::Registry(VORLAN_FILTER_DIR);
  return *registry;
}

int PrototypeOf(int32_t filterId) {
  const host::FilterPrototype* p = BuildRegistry().FindPrototypeByFilterId(filterId);
  return p != nullptr ? p->id : -1;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

std::unique_ptr<QTimer> OnNextModal(std::function<void(QWidget*)> act) {
  auto timer = std::make_unique<QTimer>();
  timer->setInterval(10);
  QTimer* raw = timer.get();
  QObject::connect(raw, &QTimer::timeout, [raw, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    raw->stop();
    act(modal);
  });
  timer->start();
  return timer;
}

namespace {
void Send(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent event(type, QPointF(p), w->mapToGlobal(QPointF(p)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}
}  // namespace

void Press(QWidget* w, QPoint p, Qt::MouseButton button) {
  Send(w, QEvent::MouseButtonPress, p, button, button);
}

void MoveTo(QWidget* w, QPoint p, Qt::MouseButtons held) {
  Send(w, QEvent::MouseMove, p, Qt::NoButton, held);
}

void Release(QWidget* w, QPoint p, Qt::MouseButton button) {
  Send(w, QEvent::MouseButtonRelease, p, button, Qt::NoButton);
}

void Drag(QWidget* w, QPoint from, QPoint to, int steps) {
  Press(w, from);
  for (int i = 1; i <= steps; ++i) MoveTo(w, from + (to - from) * i / steps);
  Release(w, to);
}

QPoint PinCentre(const host::GraphDocument& document, const host::FilterNode& node, int pin) {
  const host::Rect& r = node.geometry.pinRects.at(static_cast<size_t>(pin));
  return QPoint((r.left + r.right) / 2 + document.originX, (r.top + r.bottom) / 2 + document.originY);
}

QPoint BoxPoint(const host::GraphDocument& document, const host::FilterNode& node, int dx, int dy) {
  return QPoint(node.geometry.box.left + dx + document.originX, node.geometry.box.top + dy + document.originY);
}

std::vector<uint8_t> TextSettings(const std::string& text) {
  std::vector<uint8_t> bytes(4 + text.size());
  const int32_t length = static_cast<int32_t>(text.size());
  std::memcpy(bytes.data(), &length, 4);
  std::memcpy(bytes.data() + 4, text.data(), text.size());
  return bytes;
}

bool ApplyBytes(host::FilterNode& node, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> copy = bytes;
  return node.filter->ApplyConfig(MakePacket(static_cast<int32_t>(copy.size()), PacketType::Config, copy.data()),
                                  ConfigForm::Serialized) == Ok;
}

}  // namespace vorlan::gui::test
