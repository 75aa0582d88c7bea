#pragma once

#include "hw/bit_timing.h"
#include "hw/line_driver.h"

#include <cstdint>

namespace vardel {

// The program as the only master of the EEPROM's I2C bus, bit-banged on the EEPROM wiring. Every
// step is one line change followed by its pauses; SDA is released by driving it high.
class I2CBus {
public:
    I2CBus(LineDriver& lines, BitTiming& timing) : lines_(lines), timing_(timing) {}

    // Supply on, SCL and SDA high, all in one write.
    void I2CIdle() { lines_.SetI2CLines(1, 1, 1); }
    void I2CStart();
    void I2CStop();
    // Eight bits, most significant first, without the acknowledge clock.
    void I2CWriteByte(std::uint8_t value);
    // The ninth clock after a byte sent: true when the slave pulled SDA low.
    bool I2CReadAck();
    std::uint8_t I2CReadByte();
    void I2CMasterAck();

    void Pause(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            timing_.BitDelay();
    }

    LineDriver& lines() { return lines_; }
    BitTiming& timing() { return timing_; }

private:
    LineDriver& lines_;
    BitTiming& timing_;
};

} // namespace vardel
