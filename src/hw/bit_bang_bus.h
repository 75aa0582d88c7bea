#pragma once

#include "hw/bit_timing.h"
#include "hw/line_driver.h"

namespace vardel {

// What every bus the program bit-bangs on the board's lines has: the lines it drives and the bit
// delay it pauses between steps.
class BitBangBus {
public:
    BitBangBus(LineDriver& lines, BitTiming& timing) : lines_(lines), timing_(timing) {}

    void Pause(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            timing_.BitDelay();
    }
    LineDriver& lines() { return lines_; }
    BitTiming& timing() { return timing_; }

protected:
    LineDriver& lines_;
    BitTiming& timing_;
};

} // namespace vardel
