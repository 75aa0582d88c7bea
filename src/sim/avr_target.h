#pragma once

#include "parts/avr_parts.h"
#include "sim/sockets.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vardel::sim {

// How a part reaches its lock and fuse bits in serial programming mode. The AT90S parts split in
// two: the AT90S2313/4414/8515 can only write their lock bits; the AT90S2323/2343/4434/8535 read
// lock and fuse bits in one byte and write one fuse.
enum class AvrFamily {
    Generic, // a chip known only by its signature: no lock or fuse instructions
    At90sLockOnly,
    At90sLockAndFuse,
    ATmega103,
    ATmega161,
    ATmega163,
    ATmega128,
    ATtiny12,
    // A part of the AVR part table: the serial instruction set of the ATmega and ATtiny parts
    // (lock and fuse bytes read with 58/50, written with AC E0/A0/A8/A4, RDY/BSY with F0 where
    // the part has it, Load Extended Address 4D past 128 KiB), or the older lock and fuse
    // instructions of its part's `bitsLayout`.
    Table,
};

// One fuse byte as the chip stores it and as its key shows it (programmed bits are 0).
struct AvrFuseByte {
    std::uint8_t factory = 0xFF;
    // Bits the part does not have: they always read 1.
    std::uint8_t unused = 0x00;
    // Bits serial programming cannot change (SPIEN on the parts whose datasheet keeps it out of
    // reach of serial mode).
    std::uint8_t fixed = 0x00;
    // Bits that end serial programming from the next power-up: SPIEN when unprogrammed (1),
    // RSTDISBL or DWEN when programmed (0). Only a high-voltage programmer undoes them.
    std::uint8_t lockoutWhenSet = 0x00;
    std::uint8_t lockoutWhenClear = 0x00;
};

// How long a part takes for each kind of write.
struct AvrTimes {
    std::int64_t flashWriteNs; // a byte, or a page on page parts
    std::int64_t eepromWriteNs;
    std::int64_t eraseNs;
    std::int64_t fuseWriteNs; // a lock or fuse byte
};

// Which end of its part data's range a chip's write times take (key avr.timing).
enum class AvrSpeed { Slowest, Fastest };

struct AvrDevice {
    const char* name; // empty for a chip known only by its signature
    std::array<std::uint8_t, 3> signature;
    AvrFamily family;
    std::uint32_t flashBytes;
    std::uint32_t pageWords; // 0: the flash is written byte by byte
    std::uint32_t eepromBytes;
    // The range of the part data: a chip may take any time between the two.
    AvrTimes fastest;
    AvrTimes slowest;
    // Answer to a read of a byte being written: the first value during the first half of the write
    // cycle, the second during the second half (equal on parts with a single polling value).
    std::array<std::uint8_t, 2> flashPolling;
    std::array<std::uint8_t, 2> eepromPolling;
    // Fewest XTAL periods in an SCK phase for the edge that ends it to be seen (below 12 MHz).
    int sckPhaseClocks;
    // Fuse bytes in key order: avr.fuse.low, avr.fuse.high, avr.fuse.extended.
    int fuseCount;
    std::array<AvrFuseByte, 3> fuses;
    // The AT90S2323/2343 latch their fuse at power-up: a new value acts after a power cycle.
    bool fuseAfterPowerCycle;
    // Calibration bytes (38 xx bb): 0 none, 1, or 4 on the ATmega128 (1, 2, 4 and 8 MHz).
    int calibrationCount;
    std::array<std::uint8_t, 4> calibration;
    // The table part a Table device is built from.
    const AvrPart* part = nullptr;
    // How a Table device decodes its lock and fuse instructions: its part's layout.
    AvrBitsLayout bitsLayout = AvrBitsLayout::Standard;
    // The EEPROM page of Load EEPROM Memory Page (C1) and Write EEPROM Memory Page (C2), in
    // bytes; 0 on the parts that write their EEPROM only a byte at a time (C0).
    std::uint32_t eepromPageBytes = 0;
};

// A simulated chip of a part of the AVR part table: its memories, page buffer, write times and
// polling values, fuse bytes with their factory values, the lock-out rules of SPIEN (which serial
// mode cannot change), RSTDISBL and DWEN.
AvrDevice DeviceFromPart(const AvrPart& part);

// The catalogue of devices the simulated board can hold, in the order they are listed to the user.
std::span<const AvrDevice> AvrCatalogue();
// The catalogue entry with this name, compared in any case; null when there is none.
const AvrDevice* FindAvrDevice(std::string_view name);
// "AT90S2313, AT90S2323, ..." for messages.
std::string AvrCatalogueNames();

// An AVR in the board's socket, as its datasheet describes serial programming.
//
// The chip lives on XTAL: it counts rising XTAL edges and sees SCK only through them. An SCK edge
// is seen when the phase it ends (the time since the previous SCK change) held at least
// sckPhaseClocks XTAL rising edges (at least 3 when XTAL runs at 12 MHz or faster); otherwise the
// edge is lost and the chip keeps the SCK level it saw last, so a short pulse costs it a whole bit.
//
// Serial interface: one 8-bit shift register. A seen rising SCK edge shifts MOSI in; a seen falling
// edge puts the register's MSB on MISO at once; a read instruction loads its datum into the
// register when the third byte is complete. Every byte is thus echoed one byte late and a read's
// datum comes out during the fourth byte.
//
// Sync model: the chip counts received bits in a 32-bit instruction frame. Until programming is
// enabled MISO is not driven (it floats high) and the chip only looks at the end of its frame's
// first byte for AC; with power on and RESET low for at least enableDelayNs and enableClocks XTAL
// clocks it then drives MISO with the echo (the host reads AC back in its second byte and 53 in
// its third), and 53 as the frame's second byte enables programming. A chip can
// start syncOffsetBits bits into its frame after power-up (as if it had counted spurious SCK edges
// while its supply rose): the host's frames then straddle its own, AC 53 is never seen where the
// chip looks, and each extra single SCK pulse the host gives between tries moves the frames one bit
// closer, so a host that sends AC 53 00 00 plus one pulse per try meets the chip after
// 32 - syncOffsetBits tries. A RESET pulse restarts the frame at bit 0. Once enabled, the chip
// executes each frame on its 32nd bit; RESET high or power off leaves programming mode, and power
// off resets the interface but keeps memories, fuses and lock bits, except the cells of a flash or
// EEPROM write still in progress, which are left undefined (erased, here).
//
// EEPROM pages (the newer parts, AvrDevice::eepromPageBytes): Load EEPROM Memory Page puts a byte
// in the page buffer at its place in the page, Write EEPROM Memory Page writes the page of its
// address: only the bytes loaded since the last page write change (each erased and written), the
// others keep their value, and the whole page takes one EEPROM write time.
//
// Writes program flash by ANDing: on the byte-written AT90S parts and on the page parts alike a
// flash cell can only lose 1 bits until a chip erase, since serial programming has no flash erase
// of its own. An EEPROM byte write erases the byte first. Memory cells change when the write
// starts; while it lasts, reading a byte being written answers the polling value, and further
// writes are ignored. A chip erase ignores every instruction while it lasts. A lock or fuse write
// takes its own time, during which further writes are ignored. Programmed lock bit LB1 (lock mode 2
// or 3) stops flash and EEPROM writes; on the AT90S parts and the ATtiny12 lock mode 3 also stops
// the reads from loading any datum, so signature and memory reads answer the echo of their third
// byte (the signature index, the low address byte) until an erase.
//
// Lock-out: a chip that powers up with SPIEN unprogrammed, RSTDISBL or DWEN programmed never
// echoes 53 to Programming Enable again (AvrFuseByte::lockoutWhenSet/-Clear); the fuse cells keep
// their value, so only `set` (the high-voltage programmer of the tests) or a fresh chip brings
// serial programming back.
class AvrTarget final : public AvrSocketChip {
public:
    // A catalogue device (as named in the catalogue) or, from Generic(), a chip known by its
    // signature.
    explicit AvrTarget(const AvrDevice& device);
    // A part outside the catalogue: 8 KiB flash written by byte, 512 bytes of EEPROM, 9 ms per
    // byte and 20 ms per erase, polling value 0xFF, no lock or fuse instructions.
    static AvrDevice Generic(const std::array<std::uint8_t, 3>& signature);

    void pins(bool vcc, bool reset, bool xtal, bool sck, bool mosi,
              std::int64_t nanoseconds) override;
    bool miso() const override;
    void describe(ChipKeys& keys) const override;
    bool set(const std::string& key, const std::string& value, std::string& error) override;
    // flash.bin and avr-eeprom.bin.
    std::vector<ChipMemoryFile> memoryFiles() override;

    const AvrDevice& device() const { return device_; }
    // A chip of a named part, not one known only by its signature.
    bool named() const { return device_.name[0] != '\0'; }
    // "ATmega128", or "the chip with signature 1E9502".
    std::string title() const;
    bool programming() const { return programming_; }
    // True when the fuses as they stand would end serial programming at the next power-up.
    bool lockoutFuses() const;

    std::vector<std::uint8_t>& flash() { return flash_; }
    const std::vector<std::uint8_t>& flash() const { return flash_; }
    std::vector<std::uint8_t>& eeprom() { return eeprom_; }
    const std::vector<std::uint8_t>& eeprom() const { return eeprom_; }
    // Fuse byte 0 low, 1 high, 2 extended, as stored in the fuse cells.
    std::uint8_t fuse(int index) const { return fuses_[index]; }
    // Lock bits in the key's layout: bits 2 LB2 and 1 LB1 on the AT90S parts, the ATmega103 and
    // the ATtiny12; bits 5..0 BLB12 BLB11 BLB02 BLB01 LB2 LB1 on the ATmega161/163/128.
    std::uint8_t lock() const { return lock_; }
    // SCK edges lost to phases shorter than the chip's clock allows while it listened (RESET
    // low), since it was inserted; each garbles the instruction it belonged to.
    long lostSckEdges() const { return lostSckEdges_; }

    // Timing, from the device (its slowest times unless avr.timing says otherwise) and changeable
    // by tests; enableDelayNs and enableClocks are the power-up wait and the XTAL clocks that must
    // precede Programming Enable.
    struct Timing {
        std::int64_t flashWriteNs;
        std::int64_t eepromWriteNs;
        std::int64_t eraseNs;
        std::int64_t fuseWriteNs;
        int sckPhaseClocks;
        std::int64_t enableDelayNs = 20'000'000;
        long enableClocks = 16;
    };
    Timing timing;
    // Sets the write times to one end of the part's range.
    void setSpeed(AvrSpeed speed);
    AvrSpeed speed() const { return speed_; }
    // Bits the chip's frame has counted after power-up before the host's first bit (0..31).
    int syncOffsetBits = 0;

    // Misbehaviour for robustness tests of the program, all off by default.
    struct Faults {
        bool neverEcho = false;        // the chip never enters programming mode
        bool pollingNeverDone = false; // a byte written answers its polling value for ever
        bool dropWrites = false;       // flash, EEPROM, lock and fuse writes change nothing
    };
    Faults faults;

private:
    enum class Busy { None, Erase, FlashByte, FlashPage, EepromByte, EepromPage, LockOrFuse };

    void powerUp(std::int64_t ns);
    void startInterface(std::int64_t ns);
    int phaseClocksNeeded() const;
    void sckRising(std::int64_t ns);
    bool enableAllowed(std::int64_t ns) const;
    void loadDatum(std::int64_t ns);
    bool readDatum(std::int64_t ns, std::uint8_t& datum) const;
    bool readLockOrFuse(std::uint8_t& datum) const;
    void execute(std::int64_t ns);
    // True when the instruction is one of the part's lock or fuse writes.
    bool writeLockOrFuse();
    void startBusy(Busy kind, std::uint32_t address, std::uint32_t length, std::int64_t duration,
                   std::int64_t ns);
    // What a read of `address` in flash (or EEPROM) answers: its value, or the polling value
    // while a write of that memory covers it.
    std::uint8_t polled(bool flash, std::uint32_t address, std::uint8_t value,
                        std::int64_t ns) const;
    // The bytes of the write in progress, from busyAddress_: every one of busyLength_, or those
    // an EEPROM page write takes.
    bool beingWritten(std::uint32_t address) const;
    // The page buffers, emptied at power-up, RESET, a chip erase and after each page write.
    void clearPageBuffers();
    bool lockMode3() const;
    // Period of the part's own oscillator when its fuses, as latched at power-up, select the
    // internal RC oscillator; 0 when it runs on XTAL.
    std::int64_t internalClockNs() const;
    bool readyBusy(std::int64_t ns) const;
    bool writesLocked() const;
    std::uint8_t fuseAsRead(int index) const;

    AvrDevice device_;
    AvrSpeed speed_ = AvrSpeed::Slowest;
    std::vector<std::uint8_t> flash_;
    std::vector<std::uint8_t> eeprom_;
    std::vector<std::uint8_t> pageBuffer_;
    std::vector<std::uint8_t> eepromPage_;
    // The EEPROM page's bytes loaded since its last write, then those of the write in progress.
    std::vector<bool> eepromLoaded_;
    std::vector<bool> eepromWriting_;
    std::array<std::uint8_t, 3> fuses_{};
    std::array<std::uint8_t, 3> fusesLatched_{};
    std::array<std::uint8_t, 4> calibration_{};
    std::uint8_t lock_ = 0xFF;

    // Pins as last driven.
    bool vcc_ = false, reset_ = false, xtal_ = false, sck_ = false, mosi_ = false;

    // Clocking.
    std::int64_t startNs_ = 0; // power-up or RESET low, whichever came last
    long clocksSinceStart_ = 0;
    int phaseClocks_ = 0;
    std::int64_t lastXtalRiseNs_ = -1;
    std::int64_t xtalPeriodNs_ = 0;
    bool sckSeen_ = false;
    bool offsetPending_ = false;
    std::int64_t internalClockNs_ = 0;
    std::int64_t lastSckChangeNs_ = 0;
    long lostSckEdges_ = 0;
    // Load Extended Address: word address bits 23..16.
    std::uint8_t extendedAddress_ = 0;
    // Latched at power-up from the fuses: Programming Enable is never answered.
    bool lockedOut_ = false;

    // Serial interface.
    std::uint8_t shift_ = 0;
    int frameBit_ = 0;
    std::array<std::uint8_t, 4> frame_{};
    bool programming_ = false;
    // Answering on MISO: from the AC of a Programming Enable in step with the chip's frame.
    bool echoing_ = false;
    bool misoBit_ = true;

    // Write cycle in progress.
    Busy busy_ = Busy::None;
    std::int64_t busyStartNs_ = 0;
    std::int64_t busyEndNs_ = 0;
    std::uint32_t busyAddress_ = 0;
    std::uint32_t busyLength_ = 0;
    // For Faults::pollingNeverDone: the byte written last in each memory.
    long lastFlashWrite_ = -1;
    long lastEepromWrite_ = -1;
};

} // namespace vardel::sim
