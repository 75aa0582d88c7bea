#pragma once

#include "hw/clock.h"
#include "hw/port_io.h"
#include "sim/sockets.h"

#include <memory>
#include <string>

namespace vardel::sim {

class LineTrace;

// The programmer board with a chip in each of its two sockets, either of which may be empty. The
// board is passive: the data byte reaches both sockets, each through its own wiring. SDA is the
// wired AND of the program's output and the chip's, read inverted on status bit 7; MISO is read on
// status bit 6. With an empty socket SDA follows the program's output and MISO floats high.
class SimBoard final : public PortIo {
public:
    explicit SimBoard(Clock& clock);
    ~SimBoard() override;

    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override;
    // "simulated board (EEPROM socket: 24C256; AVR socket: chip with signature 1E 99 99)".
    std::string describe() const override;

    void insertEeprom(std::unique_ptr<EepromSocketChip> chip);
    void insertAvr(std::unique_ptr<AvrSocketChip> chip);
    std::unique_ptr<EepromSocketChip> removeEeprom();
    std::unique_ptr<AvrSocketChip> removeAvr();
    EepromSocketChip* eeprom() const { return eeprom_.get(); }
    AvrSocketChip* avr() const { return avr_.get(); }

    // No board on the port at all: every status input floats high and nothing reaches a chip.
    void setDisconnected(bool disconnected) { disconnected_ = disconnected; }

    // A port that stops answering (a card pulled, a driver that took the port): from `accesses`
    // accesses after this call on, every access throws PortError; with `writesStillTaken` only the
    // status reads do, and the data register still reaches the sockets. -1: the port answers.
    void stopAnsweringAfter(long accesses, bool writesStillTaken = false)
    {
        answersLeft_ = accesses;
        writesStillTaken_ = writesStillTaken;
    }
    // Accesses the port still answers before it stops (-1: for ever).
    long answersLeft() const { return answersLeft_; }

    void setTrace(LineTrace* trace) { trace_ = trace; }

    // A parallel port's register access takes about a microsecond (an I/O cycle at the bus speed
    // of the old expansion bus). On the real clock the board keeps every access at least this
    // long, so the chips see the port a real board has, not one as fast as the processor: a part
    // on its own 1 MHz oscillator needs SCK phases of two of its clocks. 0: no pacing (the virtual
    // clock counts the cost itself).
    void setAccessTime(std::int64_t ns) { accessNs_ = ns; }

    std::uint8_t data() const { return data_; }
    bool sdaLevel() const;
    bool misoLevel() const;
    std::uint8_t status() const;

private:
    void traceLines();
    // Counts one access against a port that stops answering; throws once it has stopped.
    void answer(bool write);
    // Waits out the rest of the access time since the previous access.
    void pace();

    Clock& clock_;
    std::unique_ptr<EepromSocketChip> eeprom_;
    std::unique_ptr<AvrSocketChip> avr_;
    LineTrace* trace_ = nullptr;
    std::uint8_t data_ = 0;
    std::int64_t accessNs_ = 0;
    std::int64_t lastAccessNs_ = 0;
    bool disconnected_ = false;
    long answersLeft_ = -1;
    bool writesStillTaken_ = false;
};

} // namespace vardel::sim
