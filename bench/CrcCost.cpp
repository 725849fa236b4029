// What checking the integrity data costs: CRC-32 over decoded bytes, to set beside the decoder's
// rate. Every member's bytes pass through it once, whatever the coder's speed.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "Crc32.h"

namespace {

void Crc32OfDecodedBytes(benchmark::State& state) {
    std::vector<uint8_t> bytes(4 << 20);
    uint32_t x = 1;
    for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
    for (auto _ : state) benchmark::DoNotOptimize(Crc32(0, bytes.data(), bytes.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

BENCHMARK(Crc32OfDecodedBytes)->Unit(benchmark::kMillisecond);

}  // namespace
