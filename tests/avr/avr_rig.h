#pragma once

#include "avr/avr_page.h"
#include "hw/clock.h"
#include "support/recording.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace vardel::test {

// A virtual clock that also keeps every sleep asked for, in order.
class SleepLog : public VirtualClock {
public:
    std::vector<std::uint32_t> sleeps;
    // Port accesses that take no time, as on a port far faster than the chip.
    bool freePort = false;
    void Sleep(std::uint32_t ms) override
    {
        sleeps.push_back(ms);
        VirtualClock::Sleep(ms);
    }
    void portAccess() override
    {
        if (!freePort)
            VirtualClock::portAccess();
    }
};

// Status-register values that make ReadAvrMiso deliver these bytes, most significant bit first,
// one read per bit.
inline void QueueMisoBytes(RecordingPort& port, std::initializer_list<std::uint8_t> bytes)
{
    for (const std::uint8_t b : bytes)
        for (int bit = 7; bit >= 0; --bit)
            port.statusScript.push_back(((b >> bit) & 1) ? 0x40 : 0x00);
}

// The bytes the chip received, read back from the data-port writes as the chip samples them: MOSI
// on each rising SCK edge, eight bits a byte.
inline std::vector<std::uint8_t> MosiBytes(const std::vector<std::uint8_t>& writes,
                                           bool sckHigh = false)
{
    std::vector<std::uint8_t> bytes;
    unsigned value = 0, count = 0;
    for (const std::uint8_t w : writes) {
        const bool sck = w & 0x40;
        if (sck && !sckHigh) {
            value = (value << 1) | ((w & 0x20) ? 1 : 0);
            if (++count == 8) {
                bytes.push_back(static_cast<std::uint8_t>(value));
                value = count = 0;
            }
        }
        sckHigh = sck;
    }
    return bytes;
}

// Rising XTAL edges among the writes, starting from XTAL high.
inline int XtalPulses(const std::vector<std::uint8_t>& writes, bool xtalHigh = true)
{
    int pulses = 0;
    for (const std::uint8_t w : writes) {
        const bool xtal = w & 0x08;
        if (xtal && !xtalHigh)
            ++pulses;
        xtalHigh = xtal;
    }
    return pulses;
}

// The AVR page on a recording port.
struct ScriptedRig {
    RecordingPort port;
    SleepLog clock;
    LineDriver lines{port};
    RecordingHost host;
    OperationLock lock;
    AvrPage page{lines, clock, host, lock};
    AvrSerial& serial = page.serial();

    // A chip that answers Programming Enable on the first attempt, then these signature bytes.
    void answerSignature(std::uint8_t s0, std::uint8_t s1, std::uint8_t s2)
    {
        QueueMisoBytes(port, {0x00, 0xAC, 0x53, 0x00});
        QueueMisoBytes(port, {0x00, 0x30, 0x00, s0});
        QueueMisoBytes(port, {0x00, 0x30, 0x01, s1});
        QueueMisoBytes(port, {0x00, 0x30, 0x02, s2});
    }
};

} // namespace vardel::test
