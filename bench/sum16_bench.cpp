// Throughput of the additive sum over one image held in memory; it runs once
// per listing line over the whole image, so it should go at memory speed.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "catalogue/sums.h"

static void sum16_over_buffer(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  for (auto _ : state) {
    benchmark::DoNotOptimize(sum16(image.size(), image.data()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(sum16_over_buffer)->Arg(16 << 10)->Arg(16 << 20);

BENCHMARK_MAIN();
