// Throughput of the Huffman and binary coders on one core, in values per
// second. The Huffman encoder finds symbols by hashing, so its time grows
// linearly with the number of values (see the BigO rows).
//
//   build/<preset>/bench/entropy_bench --benchmark_filter=.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "binary_coding.h"
#include "binary_decoding.h"
#include "huffman_decoding.h"
#include "huffman_encoding.h"

namespace {

constexpr int64_t kValues = 10'000'000;

// `distinct` different values, uniformly drawn.
std::vector<int32_t> Values(int64_t count, uint32_t distinct) {
  std::mt19937 rng(42);
  std::vector<int32_t> v(static_cast<size_t>(count));
  for (auto& x : v) x = static_cast<int32_t>(rng() % distinct);
  return v;
}

void HuffmanEncode(benchmark::State& state, int32_t w, uint32_t distinct) {
  const std::vector<int32_t> values = Values(state.range(0), distinct);
  vorlan::BitWriter out;
  for (auto _ : state) {
    if (!vorlan::EncodeHuffman(values.data(), static_cast<int64_t>(values.size()), w, out).ok()) {
      state.SkipWithError("encoding failed");
    }
    benchmark::DoNotOptimize(out.Data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}

void HuffmanDecode(benchmark::State& state, int32_t w, uint32_t distinct) {
  const std::vector<int32_t> values = Values(state.range(0), distinct);
  vorlan::BitWriter stream;
  if (!vorlan::EncodeHuffman(values.data(), static_cast<int64_t>(values.size()), w, stream).ok()) {
    state.SkipWithError("encoding failed");
    return;
  }
  vorlan::OwnedIntArray out;
  for (auto _ : state) {
    if (!vorlan::DecodeHuffman(stream.Data(), stream.UsedBytes(), out).ok()) state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(out.Values());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BinaryEncode(benchmark::State& state) {
  const std::vector<int32_t> values = Values(state.range(0), 256);
  vorlan::BitWriter out(64);
  for (auto _ : state) {
    vorlan::EncodeBinary(values.data(), static_cast<int64_t>(values.size()), out);
    benchmark::DoNotOptimize(out.Data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BinaryDecode(benchmark::State& state) {
  const std::vector<int32_t> values = Values(state.range(0), 256);
  vorlan::BitWriter stream(64);
  vorlan::EncodeBinary(values.data(), static_cast<int64_t>(values.size()), stream);
  vorlan::OwnedIntArray out;
  for (auto _ : state) {
    vorlan::DecodeBinary(stream.Data(), stream.UsedBytes(), out);
    benchmark::DoNotOptimize(out.Values());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// W = 1 over 256 values (256 symbols); W = 4 over 4 values (256 possible
// symbols) and over 16 values (65536 possible symbols, codes of ~16 bits).
BENCHMARK_CAPTURE(HuffmanEncode, W1_256, 1, 256)->Arg(kValues)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HuffmanEncode, W4_4, 4, 4)->Arg(kValues)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HuffmanEncode, W4_16, 4, 16)->Arg(kValues)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HuffmanDecode, W1_256, 1, 256)->Arg(kValues)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HuffmanDecode, W4_4, 4, 4)->Arg(kValues)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HuffmanDecode, W4_16, 4, 16)->Arg(kValues)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HuffmanEncode, Scaling_W1_256, 1, 256)
    ->RangeMultiplier(4)
    ->Range(1 << 16, 1 << 24)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BinaryEncode)->Arg(kValues)->Unit(benchmark::kMillisecond);
BENCHMARK(BinaryDecode)->Arg(kValues)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
