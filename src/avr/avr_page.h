#pragma once

#include "avr/avr_page_model.h"
#include "avr/avr_part_ops.h"
#include "avr/avr_serial.h"
#include "avr/avr_session.h"
#include "avr/device_catalogue.h"
#include "files/image_file.h"
#include "hw/host.h"
#include "hw/operation_lock.h"
#include "hw/port_io.h"
#include "parts/avr_parts.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vardel {

// The AVR page's commands: identification, flash and internal EEPROM transfers, erase and blank
// test. Every command holds an Operation for its whole run, starts the chip with a fresh power
// cycle and leaves every AVR line low. The file dialogs are answered through `dialogs` before any
// port work starts; the busy cursor is set only once they are answered.
class AvrPage {
public:
    static constexpr std::size_t kFlashBufferSize = 132001;
    static constexpr long kFlashLoadLimit = 132000;
    // A binary file for a part-table part is read up to the largest flash of the table.
    static constexpr long kPartFlashLoadLimit = 262144;
    static constexpr std::size_t kEepromBufferSize = 4101;
    static constexpr long kEepromLoadLimit = 4100;
    static constexpr int kPollRetries = AvrPartOps::kPollRetries;
    static constexpr std::int64_t kPollSpanWrites = AvrPartOps::kPollSpanWrites;

    // Titles of the open dialog: its own, and the ones the two verify commands show it with.
    static constexpr const char* kOpenTitle = "Open file";
    static constexpr const char* kVerifyFlashTitle = "Select file to verify FLASH";
    static constexpr const char* kVerifyEepromTitle = "Select file to verify internal EEPROM";

    // How a command ended.
    enum class Outcome {
        Done,      // completed (verify: no difference; blank test: blank)
        Failed,    // an error message was shown (verify: a difference; blank test: not blank)
        Cancelled, // the file dialog was cancelled: nothing was done
        Stopped,   // a stop request ended it after the byte in hand
        Busy,      // another chip operation is running: nothing was done
    };

    // Why the last identification ended as it did.
    using Identification = AvrIdentification;

    // The window's two shared file dialogs, or the command line's FILE argument. Each returns the
    // chosen file name, or nothing when the user cancelled.
    struct FileDialogs {
        // The save dialog ("Save file", asks before overwriting).
        std::function<std::optional<std::string>()> save;
        // The open dialog shown with this title; the window puts its own title back afterwards,
        // whether a file was chosen or not.
        std::function<std::optional<std::string>(const std::string& title)> open;
    };
    FileDialogs dialogs;

    AvrPage(LineDriver& lines, Clock& clock, Host& host, OperationLock& operations);

    // Powers the chip up, enters programming mode and looks its signature up in the catalogue;
    // the model then describes it. On true the chip stays powered for the caller's instructions;
    // on false every AVR line is low and the reason has been shown.
    bool IdentifyDevice();
    Identification lastIdentification() const { return lastIdentification_; }
    // The signature bytes the last identification read (all zero when the chip did not answer
    // the programming enable).
    const std::array<std::uint8_t, 3>& lastSignature() const { return lastSignature_; }

    Outcome btnTipoClick();       // "Identify microprocessor"
    Outcome btnLeerFlashClick();  // "Read Flash"
    Outcome btnProgFlashClick();  // "Program Flash"
    Outcome btnFLashVerifClick(); // "Verify Flash"
    Outcome btnLeerEEPIntClick(); // "Read internal eeprom"
    Outcome BitBtn1Click();       // "Program internal eeprom"
    Outcome btnEEPIntClick();     // "Verify internal eeprom"
    Outcome btnBorrarClick();     // "Erase chip"

    // The commands behind the buttons, each one job of one session, for a file already chosen.
    // A program with `verify` reads every byte once, in the verify.
    enum class Memory { Flash, Eeprom };
    Outcome ReadMemory(Memory memory, const std::string& fileName);
    Outcome ProgramMemory(Memory memory, const std::string& fileName, bool verify);
    Outcome VerifyMemory(Memory memory, const std::string& fileName);
    Outcome Identify();
    // Chip Erase without an identification: it is what unlocks a protected chip.
    Outcome EraseChip();
    // Flash, then EEPROM, compared with 0xFF.
    Outcome BlankTest();
    Outcome btnTestBlankClick(); // "Blank-test"

    // What the last verify found different: the first differing address, how many bytes differ,
    // and the chip's and the file's bytes over the whole memory as it compared them. Empty after
    // a verify without difference or one that did not get through the memory.
    struct Difference {
        bool flash = true;
        std::uint32_t first = 0;
        std::uint32_t count = 0;
        std::vector<std::uint8_t> chip;
        std::vector<std::uint8_t> file;
    };
    const std::optional<Difference>& lastDifference() const { return lastDifference_; }

    AvrPageModel& model() { return model_; }
    const AvrPageModel& model() const { return model_; }
    AvrSerial& serial() { return serial_; }
    // The catalogue entry of the last successful identification, or null.
    const DeviceEntry* device() const { return device_; }
    // The part of the last successful identification, or null.
    const AvrPart* identifiedPart() const { return part_; }
    // The part the user named for the chip in the socket (vardel-cli --part), where several
    // parts answer its signature; empty: the first of them.
    std::string partChoice;
    // The parts the last identified signature may be whose bits differ, and whether the one in
    // the socket was named (`partChoice`); empty for a signature of one chip.
    const std::vector<const AvrPart*>& partChoices() const { return choices_; }
    bool partPicked() const { return picked_; }

    // Opens a command's session: nothing when the chip is identified and shown; otherwise how the
    // command ends, its message shown and the cursor restored.
    std::optional<Outcome> openSession(AvrSession& session);

private:
    Outcome readToFile(Memory memory, const std::string& fileName);
    Outcome verifyWithFile(Memory memory, const std::string& fileName);
    // "Program Flash" and "Program internal eeprom": the file, then the chip, in one job (with
    // `verify`, the verify too, each byte read once).
    Outcome programFromFile(Memory memory, const std::string& fileName, bool verify);
    static AvrMemory AvrMemoryOf(Memory memory)
    {
        return memory == Memory::Flash ? AvrMemory::Flash : AvrMemory::Eeprom;
    }
    // No chip identified.
    void forget();
    // The identified chip (or why none was) on the page, as IdentifyDevice shows it; true when it
    // was identified. The lines are left as they are.
    bool showIdentity(const AvrIdentity& identity);
    // The page's gauges and status line over a job's progress.
    std::function<void(const AvrStep&, std::uint32_t, std::uint32_t)> jobProgress();
    // Reads and checks an image file before any port access; false after an error message.
    bool loadImage(const std::string& fileName, ImageFile& file);
    // Lays the file into a 0xFF-filled buffer for the identified chip's memory, warning of what
    // it leaves out (a verify compares only what the memory holds); false after an error message
    // (nothing of the file falls inside the memory), with the lines low.
    bool placeImage(Memory memory, const ImageFile& file, std::vector<std::uint8_t>& buffer,
                    bool verifying = false);
    std::uint32_t memorySize(Memory memory) const;
    // "The flash is erased and partly written (up to 0x01A0).", or empty while the job has not
    // touched the chip.
    static std::string LeftText(const AvrJob& job, const std::vector<AvrStepOutcome>& outcomes);
    // The way out of a job that did not end as asked: its message (how the chip was left below
    // it), the cursor restored; nothing when every step ended well.
    std::optional<Outcome> endOfJob(const AvrJob& job, const std::vector<AvrStepOutcome>& outcomes,
                                    const char* stopped);
    // The way out of a command the port failed under: nothing read is used.
    Outcome endOnPortFailure(const PortError& error);
    void progress(Memory memory, std::uint32_t index, std::uint32_t size);
    // The status line after a command: `done` with the memory's size and the time taken, or what
    // ended it.
    struct Report {
        const char* done; // "Read {n} bytes of flash in {t}"
        const char* what; // "Reading flash", for "... failed at 0x0100 after 3.0 s" and "...
                          // stopped at"
        std::optional<Memory> memory;
        // A write of a whole memory: a file that gives fewer bytes says how many, and that the
        // rest is left erased.
        bool fromFile = false;
    };
    static Report ReadReport(Memory memory);
    static Report VerifyReport(Memory memory);
    static Report ProgramReport(Memory memory, bool verify);
    // A button's command: the dialog's file (`title`: the open dialog's, null: the save dialog),
    // then the command; Busy without a dialog while another operation runs.
    Outcome withFile(const char* title, const Report& report,
                     const std::function<Outcome(const std::string&)>& command);
    Outcome erase();
    Outcome blankTest();
    Outcome reported(const Report& report, std::int64_t start, Outcome outcome);
    // A verify difference names the count and the first address in the status line.
    Outcome reportedVerify(Outcome outcome);
    Outcome stop(const char* text);

    LineDriver& lines_;
    Host& host_;
    OperationLock& operations_;
    AvrSerial serial_;
    AvrPageModel model_;
    const DeviceEntry* device_ = nullptr;
    // The address of the unit of work last done.
    std::uint32_t reached_ = 0;
    // The bytes the last file placed into the memory being written.
    std::uint32_t placed_ = 0;
    // When it was done: a command reports reached_ only when it got that far itself.
    std::int64_t reachedAt_ = -1;
    // How "Erase chip" has left the chip so far, for a port failure under it.
    std::string erasing_;
    const AvrPart* part_ = nullptr;
    std::optional<AvrPartOps> partOps_;
    Identification lastIdentification_ = Identification::NotDetected;
    std::vector<const AvrPart*> choices_;
    bool picked_ = false;
    std::array<std::uint8_t, 3> lastSignature_{};
    std::optional<Difference> lastDifference_;
};

// What the page shows once it has identified this catalogue chip: its processor-type text, editor
// pages and their captions.
void ShowIdentified(AvrPageModel& model, const DeviceEntry& entry);

} // namespace vardel
