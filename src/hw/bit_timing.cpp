#include "hw/bit_timing.h"

#include "hw/settings.h"

#include <QLocale>

#include <cmath>
#include <cstdio>
#include <limits>

namespace vardel {

namespace {
constexpr long double kTimeUnit = 2.5e-5L;

// One iteration of the calibrated loop: its cost is what the calibration measured, so the compiler
// must keep it.
inline void spin(std::int32_t loopCount)
{
    for (std::int32_t j = 0; j <= loopCount; ++j)
        asm volatile("" : "+r"(j));
}
} // namespace

void BitTiming::BitDelay()
{
    if (DelayFactor < kMinFactor)
        DelayFactor = kMinFactor;
    if (DelayFactor > kMaxFactor)
        DelayFactor = kMaxFactor;
    if (!counterAvailable_) {
        loopDelay();
        return;
    }
    const long double limit = DelayFactor * kTimeUnit;
    const std::int64_t start = clock_->QueryPerformanceCounter();
    for (;;) {
        // Extended precision on both sides, so that exactly DelayFactor x 25 us is not yet
        // enough: the pause is always strictly longer.
        const long double elapsed =
            static_cast<long double>(clock_->QueryPerformanceCounter() - start) /
            static_cast<long double>(counterFrequency_);
        if (!(limit >= elapsed))
            break;
    }
}

void BitTiming::loopDelay()
{
    for (std::int32_t i = 0; i < DelayFactor; ++i)
        spin(loopCount_);
}

void BitTiming::WaitMilliseconds(std::int32_t ms)
{
    const std::uint32_t start = clock_->GetTickCount();
    if (ms <= 0)
        return;
    while (clock_->GetTickCount() - start < static_cast<std::uint32_t>(ms)) {
    }
}

void BitTiming::MeasureClock()
{
    std::int32_t calls = 10;
    std::int64_t freq = 0;
    counterAvailable_ = clock_->QueryPerformanceFrequency(freq);
    counterFrequency_ = static_cast<double>(freq);
    if (counterAvailable_)
        return;
    const std::int32_t savedFactor = DelayFactor;
    // The measuring passes run with the factor not yet loaded: BitDelay clamps it to 1.
    DelayFactor = 0;
    std::int32_t elapsedMs = 0;
    for (;;) {
        const std::uint32_t t0 = clock_->GetTickCount();
        loopCount_ = kCalibrationLoopCount;
        for (std::int32_t i = 0; i < calls; ++i)
            BitDelay();
        const std::uint32_t t1 = clock_->GetTickCount();
        elapsedMs = static_cast<std::int32_t>(t1 - t0);
        // A machine whose ticks never move would double forever; stop well before the count
        // overflows.
        if (elapsedMs >= 100 || calls >= (1 << 24))
            break;
        calls *= 2;
    }
    DelayFactor = savedFactor;
    dt_ = elapsedMs * 0.001 / (calls * 1000000.0);
    const double iterations = dt_ > 0 ? std::nearbyint(2.5e-5 / dt_) : 0.0;
    if (dt_ <= 0)
        loopCount_ = kLoopCountFloor;
    else if (iterations > static_cast<double>(std::numeric_limits<std::int32_t>::max() - 1))
        loopCount_ = std::numeric_limits<std::int32_t>::max() - 1;
    else
        loopCount_ = static_cast<std::int32_t>(iterations);
    if (loopCount_ < kLoopCountFloor)
        loopCount_ = kLoopCountFloor;
}

void BitTiming::Calibrate(Settings& settings)
{
    MeasureClock();
    if (counterAvailable_) {
        settings.WriteString("RELOJ_TIEMPO_REAL", "SI");
        DelayFactor = settings.ReadInteger("RETARDO", 1);
        return;
    }
    DelayFactor = settings.ReadInteger("RETARDO", 1);
    settings.WriteInteger("BASE_TIEMPO", loopCount_);
    settings.WriteString("DT", FormatE(dt_, QLocale::system().decimalPoint().at(0).toLatin1()));
    settings.WriteString("RELOJ_TIEMPO_REAL", "NO");
}

std::string BitTiming::FormatE(double value, char decimalSeparator)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14E", value);
    std::string text(buf);
    const auto e = text.find('E');
    if (e != std::string::npos && e + 2 <= text.size()) {
        std::string digits = text.substr(e + 2);
        while (digits.size() < 3)
            digits.insert(digits.begin(), '0');
        text = text.substr(0, e + 2) + digits;
    }
    const auto dot = text.find('.');
    if (dot != std::string::npos && decimalSeparator)
        text[dot] = decimalSeparator;
    return text;
}

} // namespace vardel
