// 16-bit tetrahedral evaluations per second on the CLUT sizes profiles commonly carry.
#include "krm.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

void Tetrahedral16(benchmark::State& state, krmUInt32Number nInputs, krmUInt32Number nGrid)
{
    const krmUInt32Number nOutputs = nInputs;
    size_t nodes = 1;
    for (krmUInt32Number i = 0; i < nInputs; i++) nodes *= nGrid;

    std::mt19937 rng(1);
    std::uniform_int_distribution<int> word(0, 65535);
    std::vector<krmUInt16Number> table(nodes * nOutputs);
    for (auto& v : table) v = krmUInt16Number(word(rng));

    krmInterpParams* p = krmComputeInterpParams(nullptr, nGrid, nInputs, nOutputs, table.data(), 0);
    if (p == nullptr) {
        state.SkipWithError("no interpolation routine");
        return;
    }

    // A fixed set of inputs, cycled, so the loop measures the routine and not the generator.
    constexpr size_t nSamples = 4096;
    std::vector<krmUInt16Number> inputs(nSamples * nInputs);
    for (auto& v : inputs) v = krmUInt16Number(word(rng));

    krmUInt16Number out[krmMAX_STAGE_CHANNELS];
    size_t i = 0;
    for (auto _ : state) {
        p->Interpolation.Lerp16(&inputs[i * nInputs], out, p);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % nSamples;
    }
    state.SetItemsProcessed(state.iterations());
    krmFreeInterpParams(p);
}

void BM_Tetrahedral16_33cube_3to3(benchmark::State& state)
{
    Tetrahedral16(state, 3, 33);
}

void BM_Tetrahedral16_17hypercube_4to4(benchmark::State& state)
{
    Tetrahedral16(state, 4, 17);
}

BENCHMARK(BM_Tetrahedral16_33cube_3to3);
BENCHMARK(BM_Tetrahedral16_17hypercube_4to4);

}  // namespace
