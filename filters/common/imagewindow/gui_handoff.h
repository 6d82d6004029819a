// Blocking calls from a filter's worker onto the user-interface thread for
// windows that a worker feeds many times a second (the codec feedback
// windows). The data a call reads and writes is handed over under a
// std::mutex on both sides, so the hand-over is ordered in a way thread
// checkers can follow, and no closure crosses the threads except under it.
#pragma once

#include <QObject>
#include <functional>
#include <mutex>

namespace vorlan {

class GuiHandoff : public QObject {
  Q_OBJECT

 public:
  // Lives on the thread that creates it (the user-interface thread).
  explicit GuiHandoff(QObject* parent = nullptr);

  // Runs `call` on this object's thread and waits for it; runs it directly
  // when called on that thread. Without a GUI it does nothing.
  void Run(std::function<void()> call);

 private slots:
  void RunPending();

 private:
  std::mutex lock_;
  std::function<void()> pending_;
};

}  // namespace vorlan
