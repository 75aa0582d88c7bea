#pragma once

#include "hw/clock.h"

#include <cstdint>
#include <string>

namespace vardel {

class Settings;

// The pause between two line changes on the EEPROM side: DelayFactor x 25 microseconds, measured on
// the high-resolution counter or, without one, by a calibrated busy loop.
class BitTiming {
public:
    static constexpr int kMinFactor = 1;
    static constexpr int kMaxFactor = 200;
    static constexpr std::int32_t kCalibrationLoopCount = 1000000;
    static constexpr std::int32_t kLoopCountFloor = 3000;

    explicit BitTiming(Clock& clock) : clock_(&clock) {}

    // One pause of more than DelayFactor x 25 us; clamps DelayFactor into 1..200 first and keeps
    // the clamped value.
    void BitDelay();
    // Returns once the tick counter has moved on by at least ms (across its wrap).
    void WaitMilliseconds(std::int32_t ms);

    // Decides how BitDelay measures time and loads DelayFactor from "RETARDO"; writes
    // "RELOJ_TIEMPO_REAL" and, without a counter, "BASE_TIEMPO" and "DT".
    void Calibrate(Settings& settings);
    // The same measurement without a settings store; DelayFactor is left as it is.
    void MeasureClock();

    // "%e" as the system writes it: 15 significant digits, capital E, signed exponent of at least
    // three digits, the locale's decimal separator.
    static std::string FormatE(double value, char decimalSeparator);

    std::int32_t DelayFactor = 0;

    bool counterAvailable() const { return counterAvailable_; }
    double counterFrequency() const { return counterFrequency_; }
    std::int32_t loopCount() const { return loopCount_; }
    double secondsPerIteration() const { return dt_; }
    Clock& clock() { return *clock_; }

private:
    void loopDelay();

    Clock* clock_;
    bool counterAvailable_ = false;
    double counterFrequency_ = 0.0;
    std::int32_t loopCount_ = 0;
    double dt_ = 0.0;
};

} // namespace vardel
