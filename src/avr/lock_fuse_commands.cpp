#include "avr/lock_fuse_commands.h"

#include "avr/device_catalogue.h"
#include "hw/port_failure.h"

#include <span>
#include <utility>

namespace vardel {

namespace {

using E = LockFuseEditor;

const char* kError = "ERROR";
const char* kNotDetected = "Processor not detected!!!";
const char* kATmega128 = "ATmega128 (128kb flash)";
const char* kATmega103 = "ATmega103 (128kb flash)";
const char* kConfirmFuses =
    "Are you sure?\r"
    "Incorrect settings may cause problems\r"
    "\r"
    "Due to power availabity on the standart PC port, the clock settings could\r"
    "result in drawing too much power to perform operations reliably or at all\r"
    "If the ATmega appears not-respondent then try to increase the voltage,\r"
    "and/or disconnect crystal and use clock from programmer";

constexpr int kATtiny12Class = 5;

const char* kNothingWritten = "Nothing was written.";
const char* kNotIdentified =
    "No chip has been identified: press \"Identify microprocessor\" before programming lock or "
    "fuse bits.\r";

// A bit of a fuse byte and the box it is read into and written from.
struct BitBox {
    int bit;
    int box;
};

struct ReadStep {
    Instruction instruction;
    std::span<const BitBox> bits; // bit 0 first: the boxes are set in this order
};

struct WriteStep {
    Instruction instruction;
    int valueAt;       // the byte of the instruction that carries the fuse byte
    std::uint8_t base; // bits no box feeds
    std::span<const BitBox> bits;
};

struct FamilyFuses {
    std::span<const ReadStep> reads;
    std::span<const WriteStep> writes;
};

// ATmega128 and the default.
constexpr BitBox kExtended128[] = {{0, E::CheckBox18}, {1, E::CheckBox17}};
// SPIEN (bit 5) is out of reach of serial programming on the ATmega128: it is written as
// programmed, the state the chip must be in to be talking to us at all.
constexpr BitBox kHigh128[] = {{0, E::CheckBox26}, {1, E::CheckBox25}, {2, E::CheckBox24},
                               {3, E::CheckBox23}, {4, E::CheckBox22}, {6, E::CheckBox20},
                               {7, E::CheckBox19}};
// The AT90S fuse lands in bit 0 of the lock and fuse byte that the high-byte read returns on those
// parts, so the default read fills the AT90S box from it as well.
constexpr BitBox kHigh128Read[] = {{0, E::CheckBox26}, {0, E::CheckBox35}, {1, E::CheckBox25},
                                   {2, E::CheckBox24}, {3, E::CheckBox23}, {4, E::CheckBox22},
                                   {5, E::CheckBox21}, {6, E::CheckBox20}, {7, E::CheckBox19}};
constexpr BitBox kLow128[] = {{0, E::CheckBox34}, {1, E::CheckBox33}, {2, E::CheckBox32},
                              {3, E::CheckBox31}, {4, E::CheckBox30}, {5, E::CheckBox29},
                              {6, E::CheckBox28}, {7, E::CheckBox27}};
constexpr ReadStep kReads128[] = {{{0x50, 0x08, 0x00, 0x00}, kExtended128},
                                  {{0x58, 0x08, 0x00, 0x00}, kHigh128Read},
                                  {{0x50, 0x00, 0x00, 0x00}, kLow128}};
constexpr WriteStep kWrites128[] = {{{0xAC, 0xA4, 0xFF, 0x00}, 3, 0xFF, kExtended128},
                                    {{0xAC, 0xA8, 0xFF, 0x00}, 3, 0xDF, kHigh128},
                                    {{0xAC, 0xA0, 0xFF, 0x00}, 3, 0xFF, kLow128}};

constexpr BitBox kHigh163[] = {{0, E::CheckBox45}, {1, E::CheckBox44}, {2, E::CheckBox43}};
constexpr BitBox kLow163[] = {{0, E::CheckBox51}, {1, E::CheckBox50}, {2, E::CheckBox49},
                              {3, E::CheckBox48}, {6, E::CheckBox47}, {7, E::CheckBox46}};
constexpr ReadStep kReads163[] = {{{0x58, 0x08, 0x00, 0xFF}, kHigh163},
                                  {{0x50, 0x00, 0x00, 0x00}, kLow163}};
constexpr WriteStep kWrites163[] = {{{0xAC, 0xA0, 0xFF, 0x00}, 3, 0xFF, kLow163},
                                    {{0xAC, 0xA8, 0xFF, 0x00}, 3, 0xFF, kHigh163}};

// SPIEN is shown as read but never written: serial programming must not switch itself off.
constexpr BitBox kRead161[] = {{0, E::CheckBox42}, {1, E::CheckBox41}, {2, E::CheckBox40},
                               {3, E::CheckBox39}, {4, E::CheckBox38}, {5, E::CheckBox37},
                               {6, E::CheckBox36}};
constexpr BitBox kWrite161[] = {{0, E::CheckBox42}, {1, E::CheckBox41}, {2, E::CheckBox40},
                                {3, E::CheckBox39}, {4, E::CheckBox38}, {6, E::CheckBox36}};
constexpr ReadStep kReads161[] = {{{0x50, 0x00, 0x00, 0x00}, kRead161}};
constexpr WriteStep kWrites161[] = {{{0xAC, 0xA0, 0xFF, 0x00}, 3, 0xFF, kWrite161}};

constexpr BitBox kRead103[] = {
    {0, E::CheckBox57}, {1, E::CheckBox56}, {3, E::CheckBox54}, {5, E::CheckBox55}};
constexpr BitBox kWrite103[] = {{0, E::CheckBox57}, {1, E::CheckBox56}, {3, E::CheckBox54}};
constexpr ReadStep kReads103[] = {{{0x50, 0x00, 0x00, 0xFF}, kRead103}};
// The ATmega103 takes its fuses in the second byte: 1 0 1 1 EESAVE 1 SUT1 SUT0.
constexpr WriteStep kWrites103[] = {{{0xAC, 0x00, 0x00, 0x00}, 1, 0xB4, kWrite103}};

constexpr BitBox kTiny12[] = {{0, E::CheckBox65}, {1, E::CheckBox64}, {2, E::CheckBox63},
                              {3, E::CheckBox62}, {4, E::CheckBox61}, {5, E::CheckBox60},
                              {6, E::CheckBox59}, {7, E::CheckBox58}};
constexpr ReadStep kReadsTiny12[] = {{{0x50, 0x00, 0x00, 0x00}, kTiny12}};
constexpr WriteStep kWritesTiny12[] = {{{0xAC, 0xA0, 0xFF, 0x00}, 3, 0xFF, kTiny12}};
constexpr Instruction kReadCalibration{0x38, 0x00, 0x00, 0x00};

// The one fuse of the AT90S parts: AC 1011 111F.
constexpr BitBox kAT90S[] = {{0, E::CheckBox35}};
constexpr WriteStep kWritesAT90S[] = {{{0xAC, 0x00, 0xFF, 0x00}, 1, 0xBF, kAT90S}};

FamilyFuses FusesOf(FuseFamily family)
{
    switch (family) {
    case FuseFamily::ATmega163:
        return {kReads163, kWrites163};
    case FuseFamily::ATmega161:
        return {kReads161, kWrites161};
    case FuseFamily::ATmega103:
        return {kReads103, kWrites103};
    case FuseFamily::ATtiny12:
        return {kReadsTiny12, kWritesTiny12};
    case FuseFamily::AT90S:
        return {kReads128, kWritesAT90S};
    case FuseFamily::ATmega128:
        break;
    }
    return {kReads128, kWrites128};
}

constexpr Instruction kReadLock{0x58, 0x00, 0x00, 0x00};

// Bits 0 to 5 of the fourth byte of the lock write and of the lock read on the ATmega161, 163
// and 128.
constexpr int kLB128[] = {E::CheckBox3, E::CheckBox4, E::CheckBox5,
                          E::CheckBox6, E::CheckBox7, E::CheckBox8};

// The catalogue entry of the chip the page shows, by its processor-type text.
const DeviceEntry* ShownDevice(const AvrPageModel& page)
{
    for (const DeviceEntry& d : DeviceCatalogue())
        if (page.lbTipo() == d.label)
            return &d;
    return nullptr;
}

bool Programmed(std::uint8_t value, int bit)
{
    return ((value >> bit) & 1) == 0;
}

} // namespace

FuseFamily FuseFamilyOf(const std::string& lbTipo)
{
    if (lbTipo == kATmega103)
        return FuseFamily::ATmega103;
    if (lbTipo == "ATmega161 (16kb flash)")
        return FuseFamily::ATmega161;
    if (lbTipo == "ATmega163 (16kb flash)")
        return FuseFamily::ATmega163;
    if (lbTipo == "ATtiny12 (1kb flash)")
        return FuseFamily::ATtiny12;
    if (lbTipo == "AT90S8535 (8kb flash)" || lbTipo == "AT90S4434 (4kb flash)" ||
        lbTipo == "AT90S2323 (2kb flash)" || lbTipo == "AT90S2343 (2kb flash)")
        return FuseFamily::AT90S;
    return FuseFamily::ATmega128;
}

LockFuseCommands::LockFuseCommands(AvrSerial& serial, const AvrPageModel& page,
                                   LockFuseEditor& editor, Host& host, OperationLock& operations)
    : serial_(serial), page_(page), editor_(editor), host_(host), operations_(operations)
{
}

std::uint8_t LockFuseCommands::send(const Instruction& i)
{
    const std::uint8_t result = serial_.SendPacedInstruction(i[0], i[1], i[2], i[3])[3];
    serial_.ClockPulses(kSettleClocks);
    // The settle time also covers the slowest lock or fuse write of the part last identified.
    serial_.clock().Sleep(
        WaitCovering(kSettleMs, TimingOf(FindDeviceByLabel(page_.lbTipo())).fuseWriteUs));
    return result;
}

bool LockFuseCommands::enter()
{
    host_.BusyCursor();
    if (serial_.ProgrammingEnable())
        return true;
    host_.NormalCursor();
    host_.MessageBox(kNotDetected, kError);
    serial_.AllLinesLow();
    return false;
}

void LockFuseCommands::setFromBits(std::uint8_t value,
                                   std::initializer_list<std::pair<int, int>> bitBoxes)
{
    for (const auto& [bit, box] : bitBoxes)
        editor_.setChecked(box, Programmed(value, bit));
}

BoxStates LockFuseCommands::readFuseStates()
{
    BoxStates states;
    for (const ReadStep& step : FusesOf(FuseFamilyOf(page_.lbTipo())).reads) {
        const std::uint8_t value = send(step.instruction);
        for (const BitBox& b : step.bits)
            states.emplace_back(b.box, Programmed(value, b.bit));
    }
    return states;
}

LockFuseCommands::Outcome LockFuseCommands::btnReadFuseBitsClick()
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    if (!enter())
        return Outcome::Failed;
    for (const auto& [box, programmed] : readFuseStates())
        editor_.setChecked(box, programmed);
    if (FuseFamilyOf(page_.lbTipo()) == FuseFamily::ATtiny12)
        editor_.setCalibration(send(kReadCalibration));
    serial_.AllLinesLow();
    host_.NormalCursor();
    return Outcome::Done;
} catch (const PortError& error) {
    EndOnPortFailure(error, serial_.lines(), host_);
    return Outcome::Failed;
}

std::vector<Instruction> LockFuseCommands::FuseWriteInstructions() const
{
    std::vector<Instruction> out;
    for (const WriteStep& step : FusesOf(FuseFamilyOf(page_.lbTipo())).writes) {
        std::uint8_t v = step.base;
        for (const BitBox& b : step.bits) {
            const auto mask = static_cast<std::uint8_t>(1u << b.bit);
            v = editor_.checked(b.box) ? static_cast<std::uint8_t>(v & ~mask)
                                       : static_cast<std::uint8_t>(v | mask);
        }
        Instruction i = step.instruction;
        i[step.valueAt] = v;
        out.push_back(i);
    }
    return out;
}

LockFuseCommands::Outcome LockFuseCommands::btnFuseBitsClick()
try {
    return program(Kind::Fuses);
} catch (const PortError& error) {
    EndOnPortFailure(error, serial_.lines(), host_, {}, WrittenText(wrote_, true));
    return Outcome::Failed;
}

Instruction LockFuseCommands::LockWriteInstruction() const
{
    std::uint8_t b2 = 0xFF;
    const bool mega103 = page_.lbTipo() == kATmega103;
    const int lb1 = mega103 ? E::CheckBox53 : E::CheckBox1;
    const int lb2 = mega103 ? E::CheckBox52 : E::CheckBox2;
    if (editor_.checked(lb1))
        b2 &= static_cast<std::uint8_t>(~0x02);
    if (editor_.checked(lb2))
        b2 &= static_cast<std::uint8_t>(~0x04);
    std::uint8_t b4 = 0xFF;
    for (int bit = 0; bit < 6; ++bit)
        if (editor_.checked(kLB128[bit]))
            b4 &= static_cast<std::uint8_t>(~(1u << bit));
    // The same instruction serves every chip: the AT90S parts, the ATmega103 and the ATtiny12
    // take LB1 and LB2 from the second byte, the others their six bits from the fourth.
    return {0xAC, b2, 0xFF, b4};
}

LockFuseCommands::Outcome LockFuseCommands::btnLockBitsClick()
try {
    return program(Kind::Lock);
} catch (const PortError& error) {
    EndOnPortFailure(error, serial_.lines(), host_, {}, WrittenText(wrote_, false));
    return Outcome::Failed;
}

std::string WrittenText(bool wrote, bool fuses)
{
    if (!wrote)
        return {};
    return fuses ? "The fuses were written; read them back."
                 : "The lock bits were written; read "
                   "them back.";
}

AvrPage::Outcome StoppedBeforeWrite(Host& host, bool fuses)
{
    host.MessageBox(std::string("Operation stopped before the write: the ") +
                        (fuses ? "fuses were" : "lock bits were") + " not written.",
                    "WARNING:");
    return AvrPage::Outcome::Stopped;
}

std::string ChangeText(const BitChange& change)
{
    return change.name + (change.wasProgrammed ? " 0 -> " : " 1 -> ") +
           (change.programmed ? "0" : "1");
}

std::string LockoutNote(const std::string& part)
{
    return "After this write the " + part +
           " will no longer answer this programmer: only a high-voltage programmer brings it "
           "back.";
}

LockFuseCommands::Outcome LockFuseCommands::fail(const std::string& text)
{
    serial_.AllLinesLow();
    host_.NormalCursor();
    host_.MessageBox(text, kError);
    return Outcome::Failed;
}

bool LockFuseCommands::sameChip()
{
    const std::array<std::uint8_t, 3> signature = serial_.ReadSignature();
    const DeviceEntry* shown = ShownDevice(page_);
    if (shown && shown->signature == signature)
        return true;
    const DeviceEntry* found = FindDevice(signature);
    fail(WrongChipText(signature, found ? found->label : nullptr, page_.lbTipo()));
    return false;
}

std::vector<std::pair<int, int>> LockFuseCommands::lockBoxes() const
{
    if (page_.lbTipo() == kATmega103)
        return {{E::CheckBox53, 1}, {E::CheckBox52, 2}};
    if (page_.DeviceClass() == kATtiny12Class)
        return {{E::CheckBox1, 1}, {E::CheckBox2, 2}};
    const DeviceEntry* shown = ShownDevice(page_);
    if (shown && std::string(shown->notebook1) == "AT90Sxxxx")
        return {{E::CheckBox1, 7}, {E::CheckBox2, 6}};
    std::vector<std::pair<int, int>> boxes;
    for (int bit = 0; bit < 6; ++bit)
        boxes.emplace_back(kLB128[bit], bit);
    return boxes;
}

std::vector<int> LockFuseCommands::writtenBoxes(Kind kind) const
{
    std::vector<int> boxes;
    if (kind == Kind::Lock) {
        for (const auto& [box, bit] : lockBoxes())
            boxes.push_back(box);
        return boxes;
    }
    for (const WriteStep& step : FusesOf(FuseFamilyOf(page_.lbTipo())).writes)
        for (const BitBox& b : step.bits)
            boxes.push_back(b.box);
    return boxes;
}

BoxStates LockFuseCommands::readWritten(Kind kind)
{
    BoxStates states;
    if (kind == Kind::Lock) {
        const std::uint8_t lock = send(kReadLock);
        for (const auto& [box, bit] : lockBoxes())
            states.emplace_back(box, Programmed(lock, bit));
        return states;
    }
    const std::vector<int> written = writtenBoxes(kind);
    for (const auto& state : readFuseStates())
        for (const int box : written)
            if (state.first == box)
                states.push_back(state);
    return states;
}

LockFuseCommands::Outcome LockFuseCommands::program(Kind kind)
{
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    const bool fuses = kind == Kind::Fuses;
    const char* what = fuses ? "fuse" : "lock";
    wrote_ = false;
    // Whatever sequence the page would choose, a write to an unknown chip can be the one that
    // locks it out.
    if (page_.lbTipo() == AvrPageModel::kUnknownType) {
        host_.MessageBox(std::string(kNotIdentified) + kNothingWritten, kError);
        return Outcome::Failed;
    }
    if (fuses && FuseFamilyOf(page_.lbTipo()) == FuseFamily::ATmega128 &&
        page_.lbTipo() != kATmega128) {
        host_.MessageBox("The " + page_.lbTipo() +
                             " has no fuse bits that serial programming reaches.\r" +
                             kNothingWritten,
                         kError);
        return Outcome::Failed;
    }
    // The AT90S2313, 4414 and 8515 cannot read their lock bits: those are written unchecked.
    const bool readable = fuses || page_.btnReadLockBitsEnabled();

    // What the chip holds, read twice: two reads that differ mean a connection that would not
    // write reliably either.
    if (!enter())
        return Outcome::Failed;
    if (!sameChip())
        return Outcome::Failed;
    BoxStates before;
    if (readable) {
        before = readWritten(kind);
        if (readWritten(kind) != before)
            return fail(std::string("The ") + what +
                        " bits read differently twice: the connection to the chip is "
                        "unreliable.\rCheck the cable and the supply.\r" +
                        kNothingWritten);
    } else {
        // Lock bits are only ever programmed; a chip that cannot tell starts from none.
        for (const int box : writtenBoxes(kind))
            before.emplace_back(box, false);
    }
    serial_.AllLinesLow();
    host_.NormalCursor();

    std::vector<BitChange> changes;
    for (const auto& [box, was] : before)
        if (editor_.checked(box) != was)
            changes.push_back({box, CaptionOf(box, page_), was, editor_.checked(box)});
    for (const BitChange& c : changes) {
        if (!fuses && c.wasProgrammed) {
            host_.MessageBox(c.name +
                                 " is programmed on the chip: only \"Erase chip\" releases "
                                 "lock bits.\r" +
                                 kNothingWritten,
                             kError);
            return Outcome::Failed;
        }
        const FuseGuard* guard = E::GuardOf(c.box);
        if (guard && c.programmed == guard->lockoutChecked && !editor_.enabled(c.box)) {
            host_.MessageBox(c.name + (c.programmed ? " programmed" : " unprogrammed") +
                                 " ends serial programming: only a high-voltage programmer "
                                 "undoes it. Press \"" +
                                 guard->button + "\" first if that is what you want.\r" +
                                 kNothingWritten,
                             kError);
            return Outcome::Failed;
        }
    }
    const char* done = fuses ? "Fuse Bits set !!" : "Lock Bits set !!";
    if (changes.empty() && readable) {
        host_.MessageBox(done, "OK");
        return Outcome::Done;
    }

    if (showChanges)
        showChanges(changes);
    std::string question =
        fuses && page_.lbTipo() == kATmega128 ? kConfirmFuses : std::string("Are you sure?");
    for (const BitChange& c : changes)
        if (const FuseGuard* guard = E::GuardOf(c.box);
            guard && c.programmed == guard->lockoutChecked) {
            question += "\r\r" + LockoutNote(page_.lbTipo());
            break;
        }
    question += "\r\rBits that change on the " + page_.lbTipo() + ":";
    for (const BitChange& c : changes)
        question += "\r" + ChangeText(c);
    if (!readable)
        question += "\rThis chip cannot read its lock bits: they cannot be checked afterwards.";
    if (host_.MessageBox(question, fuses ? "Program Fuse Bits" : "Program Lock Bits",
                         Host::Buttons::OkCancelDefaultCancel,
                         Host::Icon::Exclamation) != Host::Result::Ok)
        return Outcome::Cancelled;
    // A stop that came while the question was open cancels the write.
    host_.ProcessMessages();
    if (operations_.stopRequested())
        return StoppedBeforeWrite(host_, fuses);

    // The socket may have changed while the question was open.
    if (!enter())
        return Outcome::Failed;
    if (!sameChip())
        return Outcome::Failed;
    wrote_ = true;
    if (fuses)
        for (const Instruction& i : FuseWriteInstructions())
            send(i);
    else
        send(LockWriteInstruction());
    if (!readable) {
        serial_.AllLinesLow();
        host_.NormalCursor();
        host_.MessageBox(done, "OK");
        return Outcome::Done;
    }
    // Read back as the chip will start next time: the AT90S2323 and 2343 take a new fuse value
    // only at power-up. A write that has just ended serial programming on purpose can only be
    // read back now, before the supply goes off.
    bool lockout = false;
    for (const BitChange& c : changes)
        if (const FuseGuard* guard = E::GuardOf(c.box))
            lockout = lockout || c.programmed == guard->lockoutChecked;
    if (!lockout) {
        serial_.AllLinesLow();
        if (!serial_.ProgrammingEnable())
            return fail(std::string("The chip did not answer after the write: the ") + what +
                        " bits could not be read back.\r" + (fuses ? "Fuse" : "Lock") +
                        " Bits NOT set.");
    }
    std::string missed;
    for (const auto& [box, holds] : readWritten(kind))
        if (holds != editor_.checked(box))
            missed +=
                (missed.empty() ? "" : ", ") + CaptionOf(box, page_) + " is " + (holds ? "0" : "1");
    if (!missed.empty())
        return fail("The chip did not take every " + std::string(what) + " bit: " + missed +
                    " after the write.\r" + (fuses ? "Fuse" : "Lock") + " Bits NOT set.");
    serial_.AllLinesLow();
    host_.NormalCursor();
    host_.MessageBox(done, "OK");
    return Outcome::Done;
}

void LockFuseCommands::readAT90SLockGroup(std::uint8_t lock, int lb1Bit, int lb2Bit)
{
    const bool lb1 = Programmed(lock, lb1Bit);
    const bool lb2 = Programmed(lock, lb2Bit);
    // LB2 is accepted only while LB1 is checked and LB1 released only while LB2 is not, so the
    // box that the rule would otherwise refuse goes second. LB2 without LB1 is no lock mode the
    // editor can show: both boxes end unchecked, whatever an earlier read left in them, rather
    // than a stale LB1 turning it into mode 3 (which the next Program Lock Bits would then write).
    if (lb1) {
        editor_.setChecked(E::CheckBox1, true);
        editor_.setChecked(E::CheckBox2, lb2);
    } else {
        editor_.setChecked(E::CheckBox2, false);
        editor_.setChecked(E::CheckBox1, false);
    }
}

LockFuseCommands::Outcome LockFuseCommands::btnReadLockBitsClick()
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    // The disabled button stands for the AT90S parts that cannot read their lock bits serially:
    // their answer would be an echo, shown as lock bits.
    if (!page_.btnReadLockBitsEnabled())
        return Outcome::Failed;
    if (!enter())
        return Outcome::Failed;
    const std::uint8_t lock = send(kReadLock);

    editor_.setChecked(E::CheckBox3, Programmed(lock, 0));
    if (page_.lbTipo() == kATmega103)
        setFromBits(lock, {{1, E::CheckBox53}, {2, E::CheckBox52}});
    else
        setFromBits(lock, {{1, E::CheckBox4}, {2, E::CheckBox5}});
    setFromBits(lock, {{3, E::CheckBox6}, {4, E::CheckBox7}, {5, E::CheckBox8}});
    // The ATtiny12 keeps LB1 in bit 1 and LB2 in bit 2, as the ATmega103 does; the AT90S parts
    // put them at the top of their lock and fuse byte.
    if (page_.DeviceClass() == kATtiny12Class)
        readAT90SLockGroup(lock, 1, 2);
    else
        readAT90SLockGroup(lock, 7, 6);

    serial_.AllLinesLow();
    host_.NormalCursor();
    return Outcome::Done;
} catch (const PortError& error) {
    EndOnPortFailure(error, serial_.lines(), host_);
    return Outcome::Failed;
}

} // namespace vardel
