#include "hw/line_driver.h"

#include <benchmark/benchmark.h>

namespace {
// A port that does nothing: what remains is the cost of the layers above it.
class NullPort final : public vardel::PortIo {
public:
    void DlPortWritePortUchar(std::uint16_t, std::uint8_t value) override
    {
        benchmark::DoNotOptimize(value);
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t) override { return 0; }
    std::string describe() const override { return "null port"; }
};

void BM_LineDriverSingleLineSetter(benchmark::State& state)
{
    NullPort port;
    vardel::LineDriver lines(port);
    lines.SetAvrLines(1, 0, 0, 0, 1);
    std::uint8_t level = 0;
    for (auto _ : state) {
        lines.SetAvrXtal(level);
        level ^= 1;
    }
    state.counters["writes/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LineDriverSingleLineSetter);
} // namespace

BENCHMARK_MAIN();
