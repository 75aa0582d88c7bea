#include "avr/avr_part_ops.h"

namespace vardel {

namespace {

std::uint32_t ceilMs(std::uint32_t us)
{
    return (us + 999) / 1000;
}

} // namespace

std::array<std::uint8_t, 4> AvrPartOps::send(const char* pattern, std::uint32_t address,
                                             std::uint8_t data)
{
    const std::array<std::uint8_t, 4> bytes = EncodeInstruction(pattern, address, data);
    std::array<std::uint8_t, 4> received{};
    for (int i = 0; i < 4; ++i)
        received[i] = serial_.TransferByte(bytes[i]);
    return received;
}

std::array<std::uint8_t, 4> AvrPartOps::sendPaced(const char* pattern, std::uint32_t address,
                                                  std::uint8_t data)
{
    const std::array<std::uint8_t, 4> bytes = EncodeInstruction(pattern, address, data);
    return serial_.SendPacedInstruction(bytes[0], bytes[1], bytes[2], bytes[3]);
}

void AvrPartOps::selectExtended(std::uint32_t wordAddress)
{
    if (!part_.instructions.loadExtAddr)
        return;
    const int extended = static_cast<int>(wordAddress >> 16);
    if (extended == extended_)
        return;
    // The pattern's address bits are those of the byte itself: bits 23..16 of the word address.
    send(part_.instructions.loadExtAddr, static_cast<std::uint32_t>(extended), 0);
    extended_ = extended;
}

std::uint8_t AvrPartOps::readFlash(std::uint32_t address)
{
    const std::uint32_t word = address / 2;
    selectExtended(word);
    const char* pattern = address & 1 ? part_.instructions.readHi : part_.instructions.readLo;
    return DecodeAnswer(pattern, send(pattern, word, 0));
}

std::uint8_t AvrPartOps::readEeprom(std::uint32_t address)
{
    const char* pattern = part_.instructions.eepromRead;
    return DecodeAnswer(pattern, send(pattern, address, 0));
}

bool AvrPartOps::awaitReady()
{
    for (int retry = 0; retry <= kPollRetries; ++retry) {
        const auto received = send(kPollReadyBusy, 0, 0);
        if ((received[3] & 0x01) == 0)
            return true;
    }
    return false;
}

bool AvrPartOps::awaitWrite(bool flash, std::uint32_t address, std::uint8_t value)
{
    if (part_.pollsReadyBusy())
        return awaitReady();
    const std::uint8_t mode = flash ? part_.flashMode : part_.eepromMode;
    const auto& readback = flash ? part_.flashReadback : part_.eepromReadback;
    // Value polling: bit 5 in page mode, bit 2 in byte mode.
    const bool valuePolling = (mode & (mode & 0x01 ? 0x20 : 0x04)) != 0;
    if (!valuePolling || value == readback[0] || value == readback[1]) {
        serial_.clock().Sleep(ceilMs(flash ? part_.flashWriteUs : part_.eepromWriteUs));
        return true;
    }
    for (int retry = 0; retry <= kPollRetries; ++retry) {
        if ((flash ? readFlash(address) : readEeprom(address)) == value)
            return true;
        serial_.clock().Sleep(kPollSleepMs);
    }
    return false;
}

bool AvrPartOps::writeFlashPage(std::uint32_t start, std::span<const std::uint8_t> bytes)
{
    const std::uint32_t firstWord = start / 2;
    for (std::uint32_t i = 0; i < bytes.size(); ++i) {
        const std::uint32_t word = firstWord + i / 2;
        const char* pattern = i & 1 ? part_.instructions.loadHi : part_.instructions.loadLo;
        send(pattern, word, bytes[i]);
        serial_.ClockPulses(100);
    }
    selectExtended(firstWord);
    send(part_.instructions.writePage, firstWord, 0);
    serial_.ClockPulses(100);
    // Value polling looks at a byte of the page that is not a polling answer.
    std::uint32_t probe = 0;
    while (probe + 1 < bytes.size() &&
           (bytes[probe] == part_.flashReadback[0] || bytes[probe] == part_.flashReadback[1]))
        ++probe;
    return awaitWrite(true, start + probe, bytes.empty() ? 0xFF : bytes[probe]);
}

bool AvrPartOps::writeFlashByte(std::uint32_t address, std::uint8_t value)
{
    const std::uint32_t word = address / 2;
    selectExtended(word);
    const char* pattern = address & 1 ? part_.instructions.writeHi : part_.instructions.writeLo;
    send(pattern, word, value);
    serial_.ClockPulses(100);
    return awaitWrite(true, address, value);
}

bool AvrPartOps::writeEepromByte(std::uint32_t address, std::uint8_t value)
{
    send(part_.instructions.eepromWrite, address, value);
    serial_.ClockPulses(100);
    return awaitWrite(false, address, value);
}

void AvrPartOps::chipErase()
{
    sendPaced(part_.instructions.chipErase, 0, 0);
    serial_.ClockPulses(1000);
    serial_.clock().Sleep(ceilMs(part_.chipEraseUs));
    extended_ = -1;
}

std::uint8_t AvrPartOps::readFuse(int index)
{
    const char* pattern = part_.fuses[index].read;
    return DecodeAnswer(pattern, sendPaced(pattern, 0, 0));
}

void AvrPartOps::writeFuse(int index, std::uint8_t value)
{
    sendPaced(part_.fuses[index].write, 0, value);
    serial_.clock().Sleep(ceilMs(part_.flashWriteUs));
}

std::uint8_t AvrPartOps::readLock()
{
    const char* pattern = part_.instructions.lockRead;
    return DecodeAnswer(pattern, sendPaced(pattern, 0, 0));
}

void AvrPartOps::writeLock(std::uint8_t value)
{
    sendPaced(part_.instructions.lockWrite, 0, value);
    serial_.clock().Sleep(ceilMs(part_.flashWriteUs));
}

} // namespace vardel
