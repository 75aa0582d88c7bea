#include "sim/sim_board.h"

#include "sim/line_trace.h"

namespace vardel::sim {

SimBoard::SimBoard(Clock& clock) : clock_(clock) {}

SimBoard::~SimBoard() = default;

void SimBoard::answer(bool write)
{
    if (answersLeft_ < 0)
        return;
    if (answersLeft_ > 0) {
        --answersLeft_;
        return;
    }
    if (write && writesStillTaken_)
        return;
    throw PortError("simulated board", write ? "the port does not take the data byte any more"
                                             : "the port does not answer a status read any more");
}

void SimBoard::pace()
{
    if (accessNs_ <= 0)
        return;
    std::int64_t now = clock_.nanoseconds();
    while (now - lastAccessNs_ < accessNs_)
        now = clock_.nanoseconds();
    lastAccessNs_ = now;
}

void SimBoard::DlPortWritePortUchar(std::uint16_t port, std::uint8_t value)
{
    pace();
    clock_.portAccess();
    answer(true);
    if (port != LptDataPort)
        return;
    data_ = value;
    if (!disconnected_) {
        const std::int64_t now = clock_.nanoseconds();
        const bool power = (value & 0x07) != 0;
        if (eeprom_)
            eeprom_->pins(power, value & 0x08, value & 0x10, now);
        if (avr_)
            avr_->pins(power, value & 0x10, value & 0x08, value & 0x40, value & 0x20, now);
    }
    if (trace_)
        traceLines();
}

std::uint8_t SimBoard::DlPortReadPortUchar(std::uint16_t port)
{
    pace();
    clock_.portAccess();
    answer(false);
    if (port != LptStatusPort)
        return 0xFF;
    if (avr_ && !disconnected_)
        avr_->timeIs(clock_.nanoseconds());
    return status();
}

bool SimBoard::sdaLevel() const
{
    if (disconnected_)
        return true;
    return (data_ & 0x10) && (!eeprom_ || eeprom_->sdaReleased());
}

bool SimBoard::misoLevel() const
{
    if (disconnected_ || !avr_)
        return true;
    return avr_->miso();
}

std::uint8_t SimBoard::status() const
{
    // BUSY (bit 7) is inverted by the port itself; the three unused low bits read 1.
    return static_cast<std::uint8_t>((sdaLevel() ? 0x00 : 0x80) | (misoLevel() ? 0x40 : 0x00) |
                                     0x07 | (disconnected_ ? 0x38 : 0x00));
}

void SimBoard::traceLines()
{
    std::uint8_t levels = LineTrace::outputsOf(data_) & ~LineTrace::Sda;
    if (sdaLevel())
        levels |= LineTrace::Sda;
    if (misoLevel())
        levels |= LineTrace::Miso;
    trace_->record(clock_.nanoseconds(), levels);
}

std::string SimBoard::describe() const
{
    std::string text = "simulated board";
    ChipKeys inEeprom, inAvr;
    if (eeprom_)
        eeprom_->describe(inEeprom);
    if (avr_)
        avr_->describe(inAvr);
    const auto e = inEeprom.find("eeprom");
    text += e != inEeprom.end() ? " (EEPROM socket: " + e->second : " (EEPROM socket: empty";
    text += "; AVR socket: ";
    if (const auto a = inAvr.find("avr"); a != inAvr.end()) {
        text += a->second;
    } else if (const auto s = inAvr.find("avr.signature"); s != inAvr.end()) {
        // A chip outside the catalogue is known by its signature bytes alone.
        text += "chip with signature";
        for (std::size_t i = 0; i + 1 < s->second.size(); i += 2)
            text += ' ' + s->second.substr(i, 2);
    } else if (const auto serial = inAvr.find("eeprom"); serial != inAvr.end()) {
        // A 25xx or 93Cxx on the AVR socket's lines.
        text += serial->second;
    } else {
        text += "empty";
    }
    return text + ')';
}

void SimBoard::insertEeprom(std::unique_ptr<EepromSocketChip> chip)
{
    eeprom_ = std::move(chip);
}
void SimBoard::insertAvr(std::unique_ptr<AvrSocketChip> chip)
{
    avr_ = std::move(chip);
}
std::unique_ptr<EepromSocketChip> SimBoard::removeEeprom()
{
    return std::move(eeprom_);
}
std::unique_ptr<AvrSocketChip> SimBoard::removeAvr()
{
    return std::move(avr_);
}

} // namespace vardel::sim
