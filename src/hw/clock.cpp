#include "hw/clock.h"

#include <chrono>
#include <thread>

namespace vardel {

namespace {
std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

RealClock::RealClock() : start_(steadyNs()) {}

bool RealClock::QueryPerformanceFrequency(std::int64_t& freq)
{
    freq = 1'000'000'000;
    return true;
}

std::int64_t RealClock::QueryPerformanceCounter()
{
    return steadyNs();
}

std::uint32_t RealClock::GetTickCount()
{
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(steadyNs() / 1'000'000));
}

void RealClock::Sleep(std::uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::int64_t RealClock::nanoseconds() const
{
    return steadyNs() - start_;
}

bool VirtualClock::QueryPerformanceFrequency(std::int64_t& freq)
{
    freq = kCounterFrequency;
    return true;
}

std::int64_t VirtualClock::QueryPerformanceCounter()
{
    now_ += kCounterReadNs;
    return now_ / (1'000'000'000 / kCounterFrequency);
}

std::uint32_t VirtualClock::GetTickCount()
{
    now_ += kTickReadNs;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now_ / 1'000'000) + tickOffset_);
}

void VirtualClock::Sleep(std::uint32_t ms)
{
    now_ += static_cast<std::int64_t>(ms) * 1'000'000;
    slept_ += static_cast<std::int64_t>(ms) * 1'000'000;
}

} // namespace vardel
