#pragma once

#include "hw/port_io.h"

#include <cstdint>

namespace vardel {

// The board's two wirings over the one data register. Each wiring keeps its own cache of the levels
// last written, so a single-line setter can rebuild the whole byte without reading the port back.
// Levels are carried as bytes: 0 is low, anything else high, stored as given. A failed port access
// throws PortError through every method: a level is stored even when its byte was not written.
class LineDriver {
public:
    explicit LineDriver(PortIo& port) : port_(&port) {}

    // EEPROM wiring: power on D0..D2, SCL on D3, SDA on D4; SDA read inverted from status bit 7.
    void SetI2CLines(std::uint8_t power, std::uint8_t scl, std::uint8_t sda)
    {
        i2cPower_ = power;
        i2cScl_ = scl;
        i2cSda_ = sda;
        port_->DlPortWritePortUchar(
            LptDataPort,
            static_cast<std::uint8_t>((power ? 0x07 : 0) | (scl ? 0x08 : 0) | (sda ? 0x10 : 0)));
    }
    void SetI2CScl(std::uint8_t level) { SetI2CLines(i2cPower_, level, i2cSda_); }
    void SetI2CSda(std::uint8_t level) { SetI2CLines(i2cPower_, i2cScl_, level); }
    bool ReadI2CSda() { return (ReadStatus() & 0x80) == 0; }

    // AVR wiring: VCC on D0..D2, XTAL on D3, RESET on D4, MOSI on D5, SCK on D6; MISO read from
    // status bit 6.
    void SetAvrLines(std::uint8_t vcc, std::uint8_t sck, std::uint8_t mosi, std::uint8_t reset,
                     std::uint8_t xtal)
    {
        avrVcc_ = vcc;
        avrSck_ = sck;
        avrMosi_ = mosi;
        avrReset_ = reset;
        avrXtal_ = xtal;
        port_->DlPortWritePortUchar(
            LptDataPort,
            static_cast<std::uint8_t>((vcc ? 0x07 : 0) | (xtal ? 0x08 : 0) | (reset ? 0x10 : 0) |
                                      (mosi ? 0x20 : 0) | (sck ? 0x40 : 0)));
    }
    void SetAvrXtal(std::uint8_t level)
    {
        SetAvrLines(avrVcc_, avrSck_, avrMosi_, avrReset_, level);
    }
    void SetAvrSck(std::uint8_t level)
    {
        SetAvrLines(avrVcc_, level, avrMosi_, avrReset_, avrXtal_);
    }
    void SetAvrMosi(std::uint8_t level)
    {
        SetAvrLines(avrVcc_, avrSck_, level, avrReset_, avrXtal_);
    }
    // The chip select of a 25xx or 93Cxx in the AVR socket.
    void SetAvrReset(std::uint8_t level)
    {
        SetAvrLines(avrVcc_, avrSck_, avrMosi_, level, avrXtal_);
    }
    bool ReadAvrMiso() { return (ReadStatus() & 0x40) != 0; }

    // The whole status register, one read; only the board check looks at more than one bit.
    std::uint8_t ReadStatus() { return port_->DlPortReadPortUchar(LptStatusPort); }

    struct I2CLevels {
        std::uint8_t power, scl, sda;
    };
    struct AvrLevels {
        std::uint8_t vcc, sck, mosi, reset, xtal;
    };
    I2CLevels i2cLevels() const { return {i2cPower_, i2cScl_, i2cSda_}; }
    AvrLevels avrLevels() const { return {avrVcc_, avrSck_, avrMosi_, avrReset_, avrXtal_}; }

private:
    PortIo* port_;
    std::uint8_t i2cPower_ = 0, i2cScl_ = 0, i2cSda_ = 0;
    std::uint8_t avrVcc_ = 0, avrSck_ = 0, avrMosi_ = 0, avrReset_ = 0, avrXtal_ = 0;
};

} // namespace vardel
