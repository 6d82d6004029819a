// Wiring filters together in tests without the host: fake producers, pin
// connections, a small pass loop, progress recording and test data paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vorlan/contract.h"

namespace vorlan::test {

// An output pin a test publishes on, standing in for an upstream filter.
class FakeOutput {
 public:
  FakeOutput();
  ~FakeOutput();
  FakeOutput(const FakeOutput&) = delete;
  FakeOutput& operator=(const FakeOutput&) = delete;

  Pin* pin() { return pin_; }
  void Publish(Packet packet) { vorlan::Publish(pin_, packet); }
  void Withdraw() { vorlan::Withdraw(pin_); }

 private:
  Pin* pin_;
};

// A plane record and its samples, owned by the test.
struct TestPlane {
  TestPlane(int32_t width, int32_t height, double min, double max, std::vector<double> samples = {});
  TestPlane(const TestPlane&) = delete;
  TestPlane& operator=(const TestPlane&) = delete;
  Packet AsPacket() { return MakePacket(sizeof(Plane), PacketType::Plane, &record); }

  std::vector<double> samples;
  Plane record;
};

// An integer array owned by the test.
struct TestIntArray {
  explicit TestIntArray(std::vector<int32_t> values);
  TestIntArray(const TestIntArray&) = delete;
  TestIntArray& operator=(const TestIntArray&) = delete;
  Packet AsPacket() { return MakePacket(sizeof(IntArray), PacketType::IntArray, &record); }

  std::vector<int32_t> values;
  IntArray record;
};

// Makes `filter`'s pin `index` read from `output`.
void Connect(Filter& consumer, int32_t index, Pin* output);
// Makes `consumer`'s pin `to` read from `producer`'s pin `from`.
void Connect(Filter& producer, int32_t from, Filter& consumer, int32_t to);

// Calls Process on each filter in order, pass after pass, until every one
// returned Ok (returns Ok), one returned anything but Ok or InputNotReady
// (returns that), or `maxPasses` passes went by (returns InputNotReady).
Result RunFilters(const std::vector<Filter*>& filters, int maxPasses = 100);

// Records the fractions reported through the progress callback on this
// thread while it lives. Install with Attach(filter).
class ProgressRecorder {
 public:
  ProgressRecorder();
  ~ProgressRecorder();
  void Attach(Filter& filter);
  const std::vector<float>& Values() const { return values_; }
  void Clear() { values_.clear(); }

 private:
  static void Callback(float fraction);
  std::vector<float> values_;
};

// The published packet of `filter`'s pin `index`.
const Packet& Output(Filter& filter, int32_t index);

// Paths and files.
std::string SharedDataPath(const std::string& name);  // ../shared/data/<name>
std::string FilterLibraryPath(const std::string& name);  // built plug-in <name>.so
// dlopen()s the built plug-in <name>.so as the host does, but keeps it and
// what it pulled in (Qt, and through it libgomp) loaded until the process
// ends, as in the host, which links Qt itself. Unloading them in a test that
// does not link Qt would drop their run-time state, which LeakSanitizer then
// reports as leaks. Null on failure (dlerror() says why).
void* OpenFilterLibrary(const std::string& name);
std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
// A fresh empty directory for one test.
std::string TempDir(const std::string& tag);

}  // namespace vorlan::test
