#pragma once

#include <cstdint>

namespace vardel {

// What the timing code needs from the machine: a monotonic counter with its frequency, a
// millisecond tick counter that wraps at 2^32, and sleep.
class Clock {
public:
    virtual ~Clock() = default;
    // False when the machine has no high-resolution counter; freq is stored either way.
    virtual bool QueryPerformanceFrequency(std::int64_t& freq) = 0;
    virtual std::int64_t QueryPerformanceCounter() = 0;
    virtual std::uint32_t GetTickCount() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;
    // Time since the clock started, in nanoseconds, without advancing a virtual clock. The
    // simulated chips and the line trace use it.
    virtual std::int64_t nanoseconds() const = 0;
    // Called by port backends on every register access; a virtual clock moves on by the cost of
    // one port access.
    virtual void portAccess() {}
};

// The machine's steady clock.
class RealClock final : public Clock {
public:
    RealClock();
    bool QueryPerformanceFrequency(std::int64_t& freq) override;
    std::int64_t QueryPerformanceCounter() override;
    std::uint32_t GetTickCount() override;
    void Sleep(std::uint32_t ms) override;
    std::int64_t nanoseconds() const override;

private:
    std::int64_t start_;
};

// A clock that only moves when it is used: sleeps, counter and tick reads and port accesses each
// advance it by a fixed cost. Runs on it are fast and repeat exactly.
class VirtualClock : public Clock {
public:
    static constexpr std::int64_t kCounterFrequency = 10'000'000; // 100 ns per count
    static constexpr std::int64_t kCounterReadNs = 1'000;
    static constexpr std::int64_t kTickReadNs = 1'000;
    static constexpr std::int64_t kPortAccessNs = 1'000;

    // tickOffset: the tick counter's value at time 0 (tests use it to cross the 2^32 wrap).
    explicit VirtualClock(std::uint32_t tickOffset = 0) : tickOffset_(tickOffset) {}

    bool QueryPerformanceFrequency(std::int64_t& freq) override;
    std::int64_t QueryPerformanceCounter() override;
    std::uint32_t GetTickCount() override;
    void Sleep(std::uint32_t ms) override;
    std::int64_t nanoseconds() const override { return now_; }
    void portAccess() override { now_ += kPortAccessNs; }

    void advance(std::int64_t ns) { now_ += ns; }
    // Total time spent in Sleep, for tests that check the waits of an operation.
    std::int64_t sleptNs() const { return slept_; }

protected:
    std::int64_t now_ = 0;
    std::int64_t slept_ = 0;
    std::uint32_t tickOffset_;
};

// Asks `done` until it answers true or the deadline is reached, and gives up only after a look
// that began at or past the deadline: a process descheduled beyond it still sees a chip that is
// done.
template <typename Done> bool PollUntil(const Clock& clock, std::int64_t deadlineNs, Done&& done)
{
    for (;;) {
        const bool late = clock.nanoseconds() >= deadlineNs;
        if (done())
            return true;
        if (late)
            return false;
    }
}

} // namespace vardel
