#include "hw/bit_timing.h"
#include "hw/line_driver.h"
#include "i2c/eeprom_page.h"
#include "i2c/eeprom_types.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A port that does nothing but count: what remains is the cost of the layers above it.
class NullPort final : public vardel::PortIo {
public:
    void DlPortWritePortUchar(std::uint16_t, std::uint8_t value) override
    {
        ++writes;
        benchmark::DoNotOptimize(value);
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t) override { return 0x80; }
    std::string describe() const override { return "null port"; }
    std::int64_t writes = 0;
};

// A clock whose counter jumps past any pause at once, so a bit delay costs two counter reads.
class InstantClock final : public vardel::Clock {
public:
    bool QueryPerformanceFrequency(std::int64_t& f) override
    {
        f = 1;
        return true;
    }
    std::int64_t QueryPerformanceCounter() override { return ++count_; }
    std::uint32_t GetTickCount() override { return static_cast<std::uint32_t>(count_ += 1000); }
    void Sleep(std::uint32_t) override {}
    std::int64_t nanoseconds() const override { return count_; }

private:
    std::int64_t count_ = 0;
};

// Hidden from the optimiser, so every port write is the virtual call the programs make.
[[gnu::noinline]] NullPort* hiddenPort(NullPort& port)
{
    NullPort* p = &port;
    benchmark::DoNotOptimize(p);
    return p;
}

void reportPerWrite(benchmark::State& state, std::int64_t writes)
{
    state.counters["ns/write"] = benchmark::Counter(
        static_cast<double>(writes), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LineDriverPerWrite(benchmark::State& state)
{
    NullPort port;
    vardel::LineDriver lines(*static_cast<vardel::PortIo*>(hiddenPort(port)));
    lines.SetAvrLines(1, 0, 0, 0, 1);
    std::uint8_t level = 0;
    for (auto _ : state) {
        lines.SetAvrXtal(level);
        level ^= 1;
    }
    reportPerWrite(state, port.writes);
}
BENCHMARK(BM_LineDriverPerWrite);

// One byte sent with its acknowledge clock: the I2C layer over the line driver.
void BM_I2CWriteBytePerWrite(benchmark::State& state)
{
    NullPort port;
    InstantClock clock;
    vardel::LineDriver lines(*static_cast<vardel::PortIo*>(hiddenPort(port)));
    vardel::BitTiming timing(clock);
    timing.MeasureClock();
    timing.DelayFactor = 1;
    vardel::I2CBus bus(lines, timing);
    bus.I2CIdle();
    std::uint8_t value = 0;
    for (auto _ : state) {
        bus.I2CWriteByte(value++);
        benchmark::DoNotOptimize(bus.I2CReadAck());
    }
    reportPerWrite(state, port.writes);
}
BENCHMARK(BM_I2CWriteBytePerWrite);

// The texts of every cell of the grid for a 24C512: what a full refresh asks of the model.
void BM_GridRefresh64KiB(benchmark::State& state)
{
    std::vector<std::uint8_t> image(65536);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7);
    for (auto _ : state) {
        std::size_t total = 0;
        for (int row = 0; row < 8192; ++row)
            for (int column = 0; column < vardel::kGridColumns; ++column)
                total += vardel::GridCellText(image.data(), row, column).size();
        benchmark::DoNotOptimize(total);
    }
    state.counters["cells"] = 8192 * vardel::kGridColumns;
}
BENCHMARK(BM_GridRefresh64KiB)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
