#pragma once

#include "hw/bit_bang_bus.h"

#include <cstdint>

namespace vardel {

// The program as the only master of the EEPROM's I2C bus, bit-banged on the EEPROM wiring. Every
// step is one line change followed by its pauses; SDA is released by driving it high.
class I2CBus final : public BitBangBus {
public:
    using BitBangBus::BitBangBus;

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
    // The ninth clock with SDA released: the master wants no more bytes, and the chip lets SDA go
    // for the STOP that follows.
    void I2CMasterNack();

private:
    // SCL low, SDA low and then released, SCL high, each with two pauses: how a START and the
    // acknowledge clock begin.
    void releaseSdaClockHigh();
};

} // namespace vardel
