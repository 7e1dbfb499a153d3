// SeaHash throughput: the one-shot hash over buffers of several sizes, the streaming hasher fed in
// small pieces (as catalog keys are), and the single-word hash of identity-keyed maps.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "construct/seahash.h"

namespace {

using brackwater::construct::SeaHasher;
using brackwater::construct::seahash;
using brackwater::construct::seahash_u64;

std::string bytes_of(size_t n) {
  std::string s(n, '\0');
  uint64_t x = 0x9E3779B97F4A7C15ULL;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x);
  }
  return s;
}

void BM_SeaHashOneShot(benchmark::State& state) {
  const std::string data = bytes_of(size_t(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(seahash(data));
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SeaHashOneShot)->RangeMultiplier(16)->Range(16, 1 << 24);

// 1 MiB fed in pieces of the given length, unaligned to the 8-byte word when the length is odd.
void BM_SeaHashStreaming(benchmark::State& state) {
  const std::string data = bytes_of(1 << 20);
  const size_t piece = size_t(state.range(0));
  for (auto _ : state) {
    SeaHasher h;
    std::string_view rest(data);
    while (!rest.empty()) {
      const size_t n = rest.size() < piece ? rest.size() : piece;
      h.write(rest.substr(0, n));
      rest.remove_prefix(n);
    }
    benchmark::DoNotOptimize(h.finish());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_SeaHashStreaming)->Arg(7)->Arg(64)->Arg(4096);

void BM_SeaHashU64(benchmark::State& state) {
  uint64_t word = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(seahash_u64(word));
    ++word;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 8);
}
BENCHMARK(BM_SeaHashU64);

}  // namespace

BENCHMARK_MAIN();
