#include "support/filter_harness.h"

#include <dlfcn.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vorlan::test {

FakeOutput::FakeOutput() : pin_(NewPin("Fake", PinKind::Output)) {}

FakeOutput::~FakeOutput() {
  std::free(pin_->name);
  delete pin_;
}

TestPlane::TestPlane(int32_t width, int32_t height, double min, double max, std::vector<double> values)
    : samples(std::move(values)) {
  if (samples.empty()) samples.assign(static_cast<size_t>(width) * height, 0.0);
  record = Plane{width, height, min, max, width * height * 8, samples.data()};
}

TestIntArray::TestIntArray(std::vector<int32_t> v) : values(std::move(v)) {
  record = IntArray{static_cast<int32_t>(values.size()), values.empty() ? nullptr : values.data()};
}

void Connect(Filter& consumer, int32_t index, Pin* output) {
  ASSERT_LT(index, consumer.pinCount);
  ASSERT_EQ(ConnectPins(consumer.pins[index], output), Ok);
}

void Connect(Filter& producer, int32_t from, Filter& consumer, int32_t to) {
  ASSERT_LT(from, producer.pinCount);
  Connect(consumer, to, producer.pins[from]);
}

Result RunFilters(const std::vector<Filter*>& filters, int maxPasses) {
  std::vector<bool> done(filters.size(), false);
  for (int pass = 0; pass < maxPasses; ++pass) {
    bool all = true;
    for (size_t i = 0; i < filters.size(); ++i) {
      if (done[i]) continue;
      const Result r = filters[i]->Process();
      if (r == Ok) {
        done[i] = true;
      } else if (r == InputNotReady) {
        all = false;
      } else {
        return r;
      }
    }
    if (all) return Ok;
  }
  return InputNotReady;
}

namespace {
thread_local ProgressRecorder* currentRecorder = nullptr;
}

ProgressRecorder::ProgressRecorder() { currentRecorder = this; }
ProgressRecorder::~ProgressRecorder() { currentRecorder = nullptr; }
void ProgressRecorder::Attach(Filter& filter) { filter.progress = &ProgressRecorder::Callback; }
void ProgressRecorder::Callback(float fraction) {
  if (currentRecorder != nullptr) currentRecorder->values_.push_back(fraction);
}

const Packet& Output(Filter& filter, int32_t index) {
  if (index >= filter.pinCount) throw std::out_of_range("no such pin");
  return filter.pins[index]->packet;
}

std::string SharedDataPath(const std::string& name) { return std::string(VORLAN_SHARED_DATA_DIR) + "/" + name; }

std::string FilterLibraryPath(const std::string& name) { return std::string(VORLAN_FILTER_DIR) + "/" + name + ".so"; }

void* OpenFilterLibrary(const std::string& name) {
  return dlopen(FilterLibraryPath(name).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string TempDir(const std::string& tag) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("vorlan-test-" + tag + "-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

}  // namespace vorlan::test
