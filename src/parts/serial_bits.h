#pragma once

#include "parts/avr_parts.h"
#include "parts/catalogue_parts.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace vardel {

// One lock, fuse or calibration instruction as it goes over the serial line. A read takes the
// listed bits from the byte received at `valueAt`; a write sends `instruction` with each listed
// bit cleared where the part's bit is programmed and set where it is not.
struct BitsInstruction {
    std::array<std::uint8_t, 4> instruction{};
    int valueAt = 3;
    std::vector<CatalogueBit> bits;
    // After the instruction: this many XTAL pulses, then a pause of this many milliseconds.
    int settleClocks = 0;
    std::uint32_t settleMs = 0;
};

// How a part's lock and fuse bytes go over the serial line, and what its data says of them
// beyond their bits: one description for every part.
struct SerialBits {
    std::vector<BitsInstruction> fuseReads;
    std::vector<BitsInstruction> fuseWrites;
    // At most one each; none where serial programming cannot reach the lock byte.
    std::vector<BitsInstruction> lockReads;
    std::vector<BitsInstruction> lockWrites;
    // These bits of a lock write's fourth byte repeat the last lock read's answer.
    std::uint8_t lockEcho = 0;
    // Every write instruction goes out, changed or not; otherwise only those whose bits change.
    bool writesAll = false;
    // The lock group takes LB2 only together with LB1: lock mode 1, 2 or 3.
    bool keepsLockModes = false;
    // A calibration byte read with the fuses.
    std::optional<BitsInstruction> calibrationRead;
    // The confirmation of a fuse write starts with this text instead of "Are you sure?".
    const char* fuseConfirmation = nullptr;
    // "Predefined Fuse Bits Settings", the part's own first, then "factory-default" from its data
    // where it has fuses and no preset of that name.
    std::vector<CataloguePreset> presets;
};

// The description of this part (one of AvrParts()).
const SerialBits& SerialBitsOf(const AvrPart& part);

// A chip not identified: read as the largest part of the first catalogue, never written.
const AvrPart& UnidentifiedPart();
const SerialBits& UnidentifiedSerialBits();

// The editor boxes that show the part's bits on its own editor page, or none for a part whose
// page is built from its bits.
std::span<const CatalogueBox> EditorBoxesOf(const AvrPart& part);
// The presets of the buttons of "Predefined Fuse Bits Settings" and the part they are for.
const AvrPart& PresetPart();

// How the program waits for a part's writes and erase.
struct WritePacing {
    // The sleep after Chip Erase.
    std::uint32_t eraseWaitMs;
    // The part tells a finished write by RDY/BSY polling.
    bool readyBusy;
    // A flash page is waited out for this long after its write, rather than polled (0: polled).
    std::uint32_t pageWaitMs;
    // Written values are polled by reading them back, except these, which a part answers while
    // still writing; those are waited out.
    bool flashValuePolling;
    bool eepromValuePolling;
    std::vector<std::uint8_t> flashUnpolled;
    std::vector<std::uint8_t> eepromUnpolled;
    std::uint32_t flashUnpolledWaitMs;
    std::uint32_t eepromUnpolledWaitMs;
    // The sleep between two polling reads.
    std::uint32_t flashPollSleepMs;
    std::uint32_t eepromPollSleepMs;
    // A poll that has spent its retries goes on, a millisecond at a time, until four of these
    // have passed: a fast port must not give up on a slow chip.
    std::uint32_t flashSlowestUs;
    std::uint32_t eepromSlowestUs;
    // Page loads and the page write carry the whole word address in bytes 2 and 3, and a page is
    // written by the address of its last word.
    bool wholeAddressLoads;
    // The EEPROM is written a page at a time (Load EEPROM Memory Page, Write EEPROM Memory Page),
    // each page waited for as one write.
    bool eepromPages;
};

// The pacing of the part: the first catalogue's twelve wait a fixed time after each flash page
// and poll written values except those they answer while writing; the others as their data
// says.
WritePacing PacingOf(const AvrPart& part);

// The sleep between two polling reads of a written value.
inline constexpr std::uint32_t kPollSleepMsOfParts = 1;

// A wait in whole milliseconds: at least `usualMs`, and never shorter than `slowestUs`.
std::uint32_t WaitCovering(std::uint32_t usualMs, std::uint32_t slowestUs);

} // namespace vardel
