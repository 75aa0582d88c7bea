#include "i2c/i2c_bus.h"

namespace vardel {

void I2CBus::releaseSdaClockHigh()
{
    lines_.SetI2CScl(0);
    Pause(2);
    lines_.SetI2CSda(0);
    Pause(2);
    lines_.SetI2CSda(1);
    Pause(2);
    lines_.SetI2CScl(1);
    Pause(2);
}

void I2CBus::I2CStart()
{
    releaseSdaClockHigh();
    // SDA falling while SCL is high: the START condition.
    lines_.SetI2CSda(0);
    Pause(2);
}

void I2CBus::I2CStop()
{
    lines_.SetI2CScl(0);
    Pause(2);
    lines_.SetI2CSda(0);
    Pause(2);
    lines_.SetI2CScl(1);
    Pause(2);
    // SDA rising while SCL is high: the STOP condition.
    lines_.SetI2CSda(1);
    Pause(2);
}

void I2CBus::I2CWriteByte(std::uint8_t value)
{
    for (int bit = 7; bit >= 0; --bit) {
        lines_.SetI2CScl(0);
        Pause();
        lines_.SetI2CSda((value >> bit) & 1);
        Pause();
        // The slave samples the bit while SCL is high.
        lines_.SetI2CScl(1);
        Pause();
    }
}

bool I2CBus::I2CReadAck()
{
    releaseSdaClockHigh();
    return !lines_.ReadI2CSda();
}

std::uint8_t I2CBus::I2CReadByte()
{
    std::uint8_t result = 0;
    for (int bit = 7; bit >= 0; --bit) {
        lines_.SetI2CScl(0);
        Pause();
        lines_.SetI2CSda(0);
        Pause();
        lines_.SetI2CSda(1);
        lines_.SetI2CScl(1);
        Pause();
        if (lines_.ReadI2CSda())
            result = static_cast<std::uint8_t>(result | (1u << bit));
    }
    return result;
}

void I2CBus::I2CMasterAck()
{
    lines_.SetI2CScl(0);
    Pause();
    lines_.SetI2CSda(0);
    Pause();
    lines_.SetI2CSda(1);
    Pause();
    lines_.SetI2CSda(0);
    Pause();
    // SDA low while SCL is high: the master acknowledges the byte.
    lines_.SetI2CScl(1);
    Pause();
}

void I2CBus::I2CMasterNack()
{
    lines_.SetI2CScl(0);
    Pause();
    lines_.SetI2CSda(1);
    Pause();
    lines_.SetI2CScl(1);
    Pause();
}

} // namespace vardel
