#pragma once

#include "hw/host.h"
#include "hw/operation_lock.h"
#include "hw/port_io.h"
#include "i2c/eeprom_types.h"
#include "i2c/i2c_bus.h"
#include "spi/microwire_bus.h"
#include "spi/spi_bus.h"
#include "spi/spi_flash.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

// The serial EEPROM page without its widgets: the type list, the memory image, and the commands
// that read, program and verify the chip and open and save image files.
class EepromPage {
public:
    // The largest type (128 KiB) and one byte of slack, so that a BIN file longer than any chip
    // still reads as longer.
    static constexpr std::size_t kImageCapacity = 131072 + 1;
    // What the two-byte word address reaches: a sequential read is addressed afresh, with the
    // next device address, at each multiple of it.
    static constexpr int kWordAddressSpan = 0x10000;
    static constexpr int kAttemptsPerPage = 26;
    static constexpr int kPagePauseMs = 3;
    // The longest write cycle of the 24Cxx parts, 5 ms in the datasheets and 10 ms on some second
    // sources: the supply stays on this long after the last page, since switching it off
    // mid-cycle can corrupt that page. The pages before it are carried by the retries.
    static constexpr int kWriteCycleMs = 10;
    // A 25xx or 93Cxx in the AVR socket: the time its supply gets before the first instruction,
    // and how long a write cycle (5 ms on the 25xx, up to 10 ms on the 93Cxx) may keep it busy
    // before the chip counts as stuck.
    static constexpr int kPowerUpMs = 5;
    static constexpr int kBusyLimitMs = 50;

    EepromPage(LineDriver& lines, BitTiming& timing, Host& host, OperationLock& operations);

    // How a chip command ended.
    enum class Outcome {
        Done,      // completed (verify: no difference)
        Failed,    // an error message was shown (verify: a difference)
        Cancelled, // Cancel (or a stop request) ended it early
        Busy,      // another chip operation is running: nothing was done
    };

    // Selects entry `index` of the type list (EepromList()): ChipSize follows, the chip part of
    // the image becomes 0xFF, and the grid is refreshed. The auto-detect flash entry has no size
    // until a read or a program identifies the chip.
    void cbChipChange(int index);

    // A random read of address 0 and a sequential read of the whole chip into EepromImage. False
    // when an acknowledge was missing while the chip was being addressed. A 24C1024 is read a
    // 64 KiB half at a time, each half addressed with its own P0: parts differ in where their
    // counter goes after 0xFFFF.
    bool EepromReadAll();
    // One page write of the image at `address`; false when a byte was not acknowledged.
    bool EepromWritePage(unsigned address);

    // The chip commands, each one operation: the chip read into the image, the image programmed
    // into the chip, the chip compared with the image.
    Outcome ReadChip();
    // With `verify`, the verify follows the write in the same operation.
    Outcome ProgramChip(bool verify = false);
    Outcome VerifyChip();
    // The toolbar's and menus' handlers run them.
    Outcome Leerchip1Click() { return ReadChip(); }
    Outcome Grabarchip1Click() { return ProgramChip(); }
    Outcome Verificar1Click() { return VerifyChip(); }
    // ERAL: every word of a 93Cxx becomes all ones, after a confirmation (Cancel the default); an
    // SPI flash is erased whole (C7h) after one. Other types have no such instruction: an ERROR,
    // nothing done.
    Outcome EraseAll();
    Outcome EraseAllClick() { return EraseAll(); }

    // What programming does with a 25xx whose block-protect bits protect part of it: ask (the
    // window), refuse (the command line without --clear-protection) or clear them (with it).
    enum class Protection { Ask, Refuse, Clear };
    Protection protection = Protection::Ask;
    // The last programming ended at a write-protected chip without writing anything.
    bool refusedProtected() const { return refusedProtected_; }

    // Open and Save of an image file (after the dialog gave its name, in the window).
    Outcome OpenImage(const std::string& fileName);
    Outcome SaveImage(const std::string& fileName);
    Outcome Abrir1Click(const std::string& fileName) { return OpenImage(fileName); }
    Outcome Guardar1Click(const std::string& fileName) { return SaveImage(fileName); }

    // Called wherever the grid must show the image again.
    std::function<void()> RefreshGrid;

    // How the last read, program or verify ended, in one line with its time, also handed to the
    // host's status line: "Read 32768 bytes from 24C256 in 48 s", "Programmed 32768 bytes in
    // 12 s, not verified", "Read cancelled at 0x0F9B: image partly updated".
    const std::string& lastOutcome() const { return lastOutcome_; }
    // What the last verify found different between the chip and the image: the first differing
    // address, how many bytes differ, and the chip's bytes as the verify read them (so a caller
    // that lists the differences need not read the chip again). Empty after any other ending.
    struct Difference {
        int first = 0;
        int count = 0;
        std::vector<std::uint8_t> chip;
    };
    const std::optional<Difference>& lastDifference() const { return lastDifference_; }
    // The last ProgramChip wrote the whole image (an outcome other than Done then is its
    // verify's).
    bool programmed() const { return programmed_; }

    std::vector<std::uint8_t> EepromImage;
    std::vector<std::uint8_t> EepromBackup;
    int ChipSize = 0;
    int typeIndex() const { return typeIndex_; }
    const EepromType& type() const { return EepromList()[static_cast<std::size_t>(typeIndex_)]; }
    bool flashChosen() const { return type().bus == EepromBus::SpiFlash; }
    // The name the chip is known by: the type's, or the identified flash's.
    std::string chipName() const;
    // How many bytes the image holds room for: an EEPROM's capacity, or a flash's size and one.
    std::size_t imageCapacity() const;
    I2CBus& bus() { return bus_; }

    static std::string AckMessage();
    // The ERROR when a 25xx or 93Cxx in the AVR socket does not answer.
    std::string NoAnswerMessage() const;

private:
    // The write and the compare of ProgramChip and VerifyChip, inside their operation.
    Outcome program();
    Outcome verify();
    // START, the write part of a random read of `address` and the repeated START with the read
    // control byte; false when a byte was not acknowledged.
    bool addressForRead(unsigned address);
    // The whole chip into EepromImage by the type's bus; false when the chip did not answer.
    bool readChip();
    // readChip for Read and Verify, ending with the normal cursor and every line low; when the
    // chip did not answer, its ERROR and the status line "`command` failed: ...", and false.
    bool readChipFor(const std::string& command);
    bool spiReadAll();
    bool microwireReadAll();
    // The last 93Cxx read found the chip answering as one of the other organisation (x16 read as
    // x8): its bytes are likely not the chip's.
    bool organisationDoubt_ = false;
    // ChipSize bytes into EepromImage, byte i from next(i), with the progress window and Cancel;
    // false when next gave nothing, which ends the read there.
    bool readBytes(const std::function<std::optional<std::uint8_t>(int)>& next);
    SpiBus spiBus();
    MicrowireBus microwireBus();
    // Powers a 93Cxx up and reads its first word: true when the chip answered.
    bool microwireAnswers(MicrowireBus& wire);
    // Reads a powered 93Cxx whole: the bytes that are not FF (all of them when the chip did not
    // answer), or nothing when every byte is.
    std::optional<Difference> notErased(MicrowireBus& wire);
    // True when word no. `index` of a powered 93Cxx reads as `word`.
    bool wordReads(MicrowireBus& wire, int index, std::uint32_t word);
    // The ERROR when a 93Cxx showed no write cycle after a write at `address`.
    std::string organisationMessage(int address) const;
    // A 93Cxx type's organisation in words, and the type of the same size in the other one.
    std::string OrganisationText() const;
    std::string OtherOrganisation() const;
    // ProgramChip for a 25xx or 93Cxx.
    Outcome programSerial(std::int64_t start);
    // The SPI flash commands (eeprom_page_flash.cpp), each inside its operation.
    Outcome flashRead();
    Outcome flashProgram(bool verify);
    Outcome flashVerify();
    Outcome flashErase();
    // Identifies the flash for a command: the chip must be the part chosen, and with `sized`
    // the image must be its size (the auto-detect entry takes the chip's size when it has none).
    // False when the command ends here, its ERROR shown and the status line given.
    bool flashMatches(SpiFlash& flash, const std::string& command, bool sized);
    // What `flash` does with block protection, as `protection` says; the window's question names
    // what the command `does` ("program", "erase") and sets `asked`.
    void protectFlash(SpiFlash& flash, bool& asked, const char* does);
    void setImageSize(int size);
    // The ERROR of Open and Save while the auto-detect entry has no chip's size yet.
    Outcome unsized();
    // Checks the block-protect bits of the 25xx before programming and clears them when allowed;
    // false when the command ends here (the outcome in `ended`).
    bool releaseProtection(SpiBus& spi, std::uint8_t status, Outcome& ended);
    // An ERROR during programming: every line low, the outcome line, Failed.
    Outcome programFailed(int address, const std::string& message, const std::string& why);
    bool cancelRequested();
    void progress(int position, const char* suffix);
    void refresh();
    // The status line of a program run that ended with the lines low: cancelled at `reached`, or
    // done since `start` (ns on the clock).
    Outcome programEnded(bool cancelled, int reached, std::int64_t start);
    // The way out of a command the port failed under; `restoreImage` puts back the image that
    // EepromBackup keeps.
    Outcome endOnPortFailure(const PortError& error, bool restoreImage);
    void report(std::string text);
    std::string elapsedSince(std::int64_t start);

    LineDriver& lines_;
    Host& host_;
    OperationLock& operations_;
    I2CBus bus_;
    int typeIndex_ = kInitialEepromType;
    bool readCancelled_ = false;
    bool refusedProtected_ = false;
    // The address of the byte in hand when a read ended early.
    int readReached_ = 0;
    std::string lastOutcome_;
    // The flash the auto-detect entry last identified.
    std::string detectedFlash_;
    std::optional<Difference> lastDifference_;
    bool programmed_ = false;
};

} // namespace vardel
