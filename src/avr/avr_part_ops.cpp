#include "avr/avr_part_ops.h"

#include <algorithm>

namespace vardel {

namespace {

std::uint32_t ceilMs(std::uint32_t us)
{
    return (us + 999) / 1000;
}

// The page loads and page write with the whole word address in bytes 2 and 3.
constexpr const char* kLoadLoWhole = "01000000aaaaaaaaaaaaaaaaiiiiiiii";
constexpr const char* kLoadHiWhole = "01001000aaaaaaaaaaaaaaaaiiiiiiii";
constexpr const char* kWritePageWhole = "01001100aaaaaaaaaaaaaaaaxxxxxxxx";

bool Contains(const std::vector<std::uint8_t>& values, std::uint8_t value)
{
    return std::find(values.begin(), values.end(), value) != values.end();
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

AvrPartOps::Write AvrPartOps::awaitWrite(bool flash, std::uint32_t address, std::uint8_t value)
{
    if (pacing_.readyBusy)
        return awaitReady() ? Write::Waited : Write::Failed;
    Clock& clock = serial_.clock();
    if (!(flash ? pacing_.flashValuePolling : pacing_.eepromValuePolling) ||
        Contains(flash ? pacing_.flashUnpolled : pacing_.eepromUnpolled, value)) {
        clock.Sleep(flash ? pacing_.flashUnpolledWaitMs : pacing_.eepromUnpolledWaitMs);
        return Write::Waited;
    }
    const auto read = [&] {
        return flash ? readFlash(address) : readEeprom(address);
    };
    const std::uint32_t sleepMs = flash ? pacing_.flashPollSleepMs : pacing_.eepromPollSleepMs;
    const std::int64_t start = clock.nanoseconds();
    bool written = read() == value;
    for (int retry = 0; !written && retry < kPollRetries; ++retry) {
        if (sleepMs)
            clock.Sleep(sleepMs);
        written = read() == value;
    }
    const std::int64_t span =
        kPollSpanWrites * (flash ? pacing_.flashSlowestUs : pacing_.eepromSlowestUs) * 1000;
    // Then a millisecond at a time until the span is over, and a last look after it.
    bool again = false;
    written = written || PollUntil(clock, start + span, [&] {
                  if (again)
                      clock.Sleep(kPollSleepMs);
                  again = true;
                  return read() == value;
              });
    return written ? Write::Polled : Write::Failed;
}

AvrPartOps::Write AvrPartOps::writeFlashPage(std::uint32_t start,
                                             std::span<const std::uint8_t> bytes)
{
    const std::uint32_t firstWord = start / 2;
    const bool whole = pacing_.wholeAddressLoads;
    for (std::uint32_t i = 0; i < bytes.size(); ++i) {
        const std::uint32_t word = firstWord + i / 2;
        const char* pattern = i & 1 ? (whole ? kLoadHiWhole : part_.instructions.loadHi)
                                    : (whole ? kLoadLoWhole : part_.instructions.loadLo);
        send(pattern, word, bytes[i]);
        serial_.ClockPulses(100);
    }
    if (whole) {
        send(kWritePageWhole, firstWord + static_cast<std::uint32_t>(bytes.size() - 1) / 2, 0);
    } else {
        selectExtended(firstWord);
        send(part_.instructions.writePage, firstWord, 0);
    }
    serial_.ClockPulses(100);
    if (pacing_.pageWaitMs) {
        serial_.clock().Sleep(pacing_.pageWaitMs);
        return Write::Waited;
    }
    return awaitPage(true, start, bytes);
}

AvrPartOps::Write AvrPartOps::awaitPage(bool flash, std::uint32_t start,
                                        std::span<const std::uint8_t> bytes)
{
    // Value polling looks at a byte of the page that is not a polling answer.
    const std::vector<std::uint8_t>& unpolled =
        flash ? pacing_.flashUnpolled : pacing_.eepromUnpolled;
    std::uint32_t probe = 0;
    while (probe + 1 < bytes.size() && Contains(unpolled, bytes[probe]))
        ++probe;
    // A poll of one byte says nothing of the others.
    return awaitWrite(flash, start + probe, bytes.empty() ? 0xFF : bytes[probe]) == Write::Failed
               ? Write::Failed
               : Write::Waited;
}

AvrPartOps::Write AvrPartOps::writeFlashByte(std::uint32_t address, std::uint8_t value)
{
    const std::uint32_t word = address / 2;
    selectExtended(word);
    const char* pattern = address & 1 ? part_.instructions.writeHi : part_.instructions.writeLo;
    send(pattern, word, value);
    serial_.ClockPulses(100);
    return awaitWrite(true, address, value);
}

AvrPartOps::Write AvrPartOps::writeEepromByte(std::uint32_t address, std::uint8_t value)
{
    send(part_.instructions.eepromWrite, address, value);
    serial_.ClockPulses(100);
    return awaitWrite(false, address, value);
}

std::uint32_t AvrPartOps::eepromWriteBytes() const
{
    return pacing_.eepromPages ? part_.eepromPageBytes : 1;
}

AvrPartOps::Write AvrPartOps::writeEepromPage(std::uint32_t start,
                                              std::span<const std::uint8_t> bytes)
{
    // The page buffer takes each byte by its place in the page; the write takes the page's
    // address and alters only the bytes loaded.
    for (std::uint32_t i = 0; i < bytes.size(); ++i)
        send(part_.instructions.eepromLoadPage, start + i, bytes[i]);
    send(part_.instructions.eepromWritePage, start, 0);
    serial_.ClockPulses(100);
    return awaitPage(false, start, bytes);
}

void AvrPartOps::chipErase()
{
    sendPaced(part_.instructions.chipErase, 0, 0);
    serial_.ClockPulses(1000);
    serial_.clock().Sleep(pacing_.eraseWaitMs);
    extended_ = -1;
}

void AvrPartOps::writeLock(std::uint8_t value)
{
    sendPaced(part_.instructions.lockWrite, 0, value);
    serial_.clock().Sleep(ceilMs(part_.lockWriteUs));
}

} // namespace vardel
