// The runner over the test plug-ins. Also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "core/graph_runner.h"
#include "core_fixture.h"

namespace vorlan::host::test {
namespace {

using namespace std::chrono_literals;

// Records what the runner reports.
class Recorder final : public RunObserver {
 public:
  void OnFilterProgress(const RunStatus& s) override {
    std::lock_guard lock(mutex);
    filterFractions.push_back(s.filterFraction);
  }
  void OnGraphProgress(const RunStatus& s) override {
    std::lock_guard lock(mutex);
    graphFractions.push_back(s.graphFraction);
    graphStates.push_back(s.graphState);
    if (s.current >= 0) currentNodes.push_back(s.currentNodeId);
  }
  void OnRunError(const RunError& e) override {
    std::lock_guard lock(mutex);
    errors.push_back(e);
  }
  void OnRunFinished(int32_t result) override { finished = result; }

  std::mutex mutex;
  std::vector<float> filterFractions;
  std::vector<float> graphFractions;
  std::vector<FilterState> graphStates;
  std::vector<int32_t> currentNodes;
  std::vector<RunError> errors;
  std::atomic<int32_t> finished{-100};
};

class Runner : public DocumentTest {
 protected:
  // Waits for the run to end; false after `limit`.
  bool WaitEnd(std::chrono::milliseconds limit = 10s) { return doc_.Run().WaitForWorker(limit); }
  Recorder rec_;
};

TEST_F(Runner, EmptyGraphEndsDoneAtOnce) {
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(doc_.Run().LastResult(), Ok);
  EXPECT_FALSE(doc_.Run().IsRunning());
  EXPECT_EQ(rec_.finished.load(), Ok);
  ASSERT_FALSE(rec_.graphStates.empty());
  EXPECT_EQ(rec_.graphStates.back(), FilterState::Done);
  EXPECT_EQ(rec_.graphFractions.back(), 1.0f);
}

TEST_F(Runner, ProducerFirstNeedsOnePassReversedOrderTwo) {
  FilterNode& relay = AddNode(doc_, kRelayId);  // consumer first
  FilterNode& source = AddNode(doc_, kSourceId);
  ASSERT_GE(doc_.InsertEdge(source.nodeId, 2, relay.nodeId, 2), 0);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(doc_.Run().LastResult(), Ok);
  // Pass 1: relay (not ready), source (done); pass 2: relay (done).
  EXPECT_EQ(rec_.currentNodes, (std::vector<int32_t>{1, 2, 2, 1, 1}));
  EXPECT_EQ(rec_.graphFractions.back(), 1.0f);
  const Packet& out = relay.filter->pins[3]->packet;
  ASSERT_NE(out.data, nullptr);
  EXPECT_EQ(*static_cast<const int32_t*>(out.data), 8);

  // The other order finishes in a single pass.
  doc_.RemoveNode(relay.nodeId);
  FilterNode& relay2 = AddNode(doc_, kRelayId);
  ASSERT_GE(doc_.InsertEdge(source.nodeId, 2, relay2.nodeId, 2), 0);
  rec_.currentNodes.clear();
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(doc_.Run().LastResult(), Ok);
  EXPECT_EQ(rec_.currentNodes, (std::vector<int32_t>{2, 2, 3, 3}));
}

TEST_F(Runner, WaitingOnInputsNothingCanPublishFailsNamingTheWaiters) {
  FilterNode& a = AddNode(doc_, kRelayId);
  FilterNode& b = AddNode(doc_, kRelayId);
  FilterNode& self = AddNode(doc_, kRelayId);
  doc_.SetCaption(a, "left");
  doc_.SetCaption(b, "right");
  doc_.SetCaption(self, "loop");
  doc_.InsertEdge(a.nodeId, 3, b.nodeId, 2);  // a cycle: nobody goes first
  doc_.InsertEdge(b.nodeId, 3, a.nodeId, 2);
  doc_.InsertEdge(self.nodeId, 3, self.nodeId, 2);  // its own output into its input
  // A source that finishes in the first pass: its progress is not a reason
  // to keep going once nothing else can move.
  FilterNode& source = AddNode(doc_, kSourceId);
  (void)source;
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd(5s)) << "the run kept waiting";
  EXPECT_EQ(doc_.Run().LastResult(), Failed);
  EXPECT_EQ(rec_.graphStates.back(), FilterState::Error);
  ASSERT_EQ(rec_.errors.size(), 1u);
  EXPECT_EQ(rec_.errors[0].message, std::string(kRunCannotFinish) +
                                        "\n\"left\" waits for \"In\" (from \"right\" pin \"Out\")"
                                        "\n\"right\" waits for \"In\" (from \"left\" pin \"Out\")"
                                        "\n\"loop\" waits for \"In\" (from \"loop\" pin \"Out\")");
  EXPECT_EQ(rec_.errors[0].caption, "");
}

TEST_F(Runner, AChainInReverseOrderWaitsWhileEachPassFinishesSomething) {
  // Three passes: in the first two every unfinished filter but one waits.
  FilterNode& last = AddNode(doc_, kRelayId);
  FilterNode& middle = AddNode(doc_, kRelayId);
  FilterNode& source = AddNode(doc_, kSourceId);
  ASSERT_GE(doc_.InsertEdge(middle.nodeId, 3, last.nodeId, 2), 0);
  ASSERT_GE(doc_.InsertEdge(source.nodeId, 2, middle.nodeId, 2), 0);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(doc_.Run().LastResult(), Ok);
  EXPECT_TRUE(rec_.errors.empty());
}

TEST_F(Runner, StopDuringALongRunEndsPromptly) {
  FilterNode& w = AddNode(doc_, kWorkerId);
  ASSERT_EQ(ApplyInts(w, kWorkForMillis, 60000), Ok);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  std::this_thread::sleep_for(50ms);
  const auto t0 = std::chrono::steady_clock::now();
  doc_.Run().Stop();
  ASSERT_TRUE(WaitEnd(2s));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  EXPECT_EQ(doc_.Run().LastResult(), Stopped);
  EXPECT_EQ(w.filter->state.load(), FilterState::Stopped);
  std::lock_guard lock(rec_.mutex);
  ASSERT_FALSE(rec_.filterFractions.empty());
  // The worker reports 1.0 as it leaves; the bar keeps where the work stood.
  EXPECT_LT(rec_.filterFractions.back(), 0.5f);
}

TEST_F(Runner, KillReturnsAtOnceAndTheNextRunWorks) {
  FilterNode& w = AddNode(doc_, kWorkerId);
  ASSERT_EQ(ApplyInts(w, kWorkForMillis, 60000), Ok);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  std::this_thread::sleep_for(30ms);
  const auto t0 = std::chrono::steady_clock::now();
  doc_.Run().Kill();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 50ms);
  EXPECT_FALSE(doc_.Run().IsRunning());
  EXPECT_EQ(doc_.Run().LastResult(), -1);
  // The abandoned worker ends on its own without reporting anything.
  ASSERT_TRUE(doc_.Run().WaitForWorker(2s));
  EXPECT_EQ(rec_.finished.load(), -100);
  EXPECT_EQ(doc_.Run().LastResult(), -1);

  ASSERT_EQ(ApplyInts(w, kWorkForMillis, 5), Ok);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(doc_.Run().LastResult(), Ok);
  EXPECT_EQ(rec_.finished.load(), Ok);
}

TEST_F(Runner, StartRightAfterKillWaitsForTheAbandonedWorker) {
  FilterNode& w = AddNode(doc_, kWorkerId);
  ASSERT_EQ(ApplyInts(w, kWorkForMillis, 60000), Ok);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  std::this_thread::sleep_for(20ms);
  doc_.Run().Kill();
  // The filters stay untouched until the abandoned worker is gone, so this
  // Start waits for it before resetting them.
  Recorder second;
  ASSERT_TRUE(doc_.Run().Start(&second));
  EXPECT_TRUE(doc_.Run().IsRunning());
  doc_.Run().Stop();
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(second.finished.load(), Stopped);
  EXPECT_EQ(rec_.finished.load(), -100);
}

TEST_F(Runner, SecondStartWhileRunningIsRefused) {
  FilterNode& w = AddNode(doc_, kWorkerId);
  ASSERT_EQ(ApplyInts(w, kWorkForMillis, 60000), Ok);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  std::string why;
  EXPECT_FALSE(doc_.Run().Start(&rec_, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(doc_.ResetAllFilters());
  doc_.Run().Stop();
  ASSERT_TRUE(WaitEnd());
  EXPECT_TRUE(doc_.ResetAllFilters());
}

TEST_F(Runner, FailureNamesTheCaptionAndTheReason) {
  FilterNode& v = AddNode(doc_, kValidId);  // no path: fails with a reason
  doc_.SetCaption(v, "source file");
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(doc_.Run().LastResult(), Failed);
  ASSERT_EQ(rec_.errors.size(), 1u);
  EXPECT_EQ(rec_.errors[0].message, "Error on filter : source file\nno path set");
  EXPECT_EQ(rec_.errors[0].nodeId, v.nodeId);
  EXPECT_EQ(rec_.graphStates.back(), FilterState::Error);
}

TEST_F(Runner, UnexpectedResultCodesEndTheRunAsFailed) {
  FilterNode& w = AddNode(doc_, kWorkerId);  // a library without GetFailureReason
  ASSERT_EQ(ApplyInts(w, kOutOfMemory, 0), Ok);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd(5s)) << "an OutOfMemory must not be retried forever";
  EXPECT_EQ(doc_.Run().LastResult(), Failed);
  ASSERT_EQ(rec_.errors.size(), 1u);
  EXPECT_EQ(rec_.errors[0].message, "Error on filter : Test worker");
}

TEST_F(Runner, UnconnectedInputFailsTheRun) {
  AddNode(doc_, kRelayId);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(doc_.Run().LastResult(), Failed);
  ASSERT_EQ(rec_.errors.size(), 1u);
  EXPECT_EQ(rec_.errors[0].message, "Error on filter : Test relay");
}

TEST_F(Runner, FilterFoundInErrorRefusesTheStart) {
  FilterNode& w = AddNode(doc_, kWorkerId);
  w.filter->state = FilterState::Error;
  std::string why;
  EXPECT_FALSE(doc_.Run().Start(&rec_, &why));
  EXPECT_NE(why.find("Test worker"), std::string::npos);
  EXPECT_FALSE(doc_.Run().IsRunning());
  EXPECT_TRUE(doc_.Run().WorkerGone());
  w.filter->state = FilterState::Ready;
}

TEST_F(Runner, EdgeToAMissingPinRefusesTheStart) {
  FilterNode& s = AddNode(doc_, kSourceId);
  FilterNode& r = AddNode(doc_, kRelayId);
  ASSERT_EQ(ApplyInts(s, 1, 3), Ok);
  doc_.RefreshNode(s);
  ASSERT_GE(doc_.InsertEdge(s.nodeId, 4, r.nodeId, 2), 0);
  ASSERT_EQ(ApplyInts(s, 1, 1), Ok);  // pin 4 vanishes without re-validation
  std::string why;
  EXPECT_FALSE(doc_.Run().Start(&rec_, &why));
  EXPECT_NE(why.find("pin"), std::string::npos);
}

TEST_F(Runner, ProgressIsClampedAndNaNBecomesZero) {
  FilterNode& w = AddNode(doc_, kWorkerId);
  ASSERT_EQ(ApplyInts(w, kWildProgress, 0), Ok);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  ASSERT_TRUE(WaitEnd());
  ASSERT_EQ(doc_.Run().LastResult(), Ok);
  std::lock_guard lock(rec_.mutex);
  // 0 (skeleton), NaN, -1, 2, 1 (skeleton)
  EXPECT_EQ(rec_.filterFractions, (std::vector<float>{0.0f, 0.0f, 0.0f, 1.0f, 1.0f}));
}

TEST_F(Runner, ProgressFromOtherThreadsIsIgnored) {
  // Not on a worker thread: no runner to route to, nothing happens.
  GraphRunner::FilterProgressThunk(0.5f);
  SUCCEED();
}

TEST_F(Runner, ClearDuringARunEndsItFirst) {
  FilterNode& w = AddNode(doc_, kWorkerId);
  ASSERT_EQ(ApplyInts(w, kWorkForMillis, 60000), Ok);
  ASSERT_TRUE(doc_.Run().Start(&rec_));
  std::this_thread::sleep_for(20ms);
  doc_.Clear();
  EXPECT_EQ(doc_.NodeCount(), 0);
  EXPECT_TRUE(doc_.Run().WorkerGone());
  EXPECT_EQ(doc_.Run().LastResult(), -1);
}

TEST_F(Runner, RunsManyTimesInARow) {
  FilterNode& s = AddNode(doc_, kSourceId);
  FilterNode& r = AddNode(doc_, kRelayId);
  doc_.InsertEdge(s.nodeId, 2, r.nodeId, 2);
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(doc_.Run().Start(&rec_));
    if (i % 3 == 1) doc_.Run().Stop();
    if (i % 5 == 2) doc_.Run().Kill();
    ASSERT_TRUE(WaitEnd());
  }
}

}  // namespace
}  // namespace vorlan::host::test
