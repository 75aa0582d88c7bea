#include "parts/serial_bits.h"

#include <algorithm>
#include <map>
#include <string_view>

namespace vardel {

namespace {

// An instruction of the first catalogue's rows, paced by the settling every one of them takes.
BitsInstruction FromRow(const CatalogueInstruction& row, std::uint32_t settleMs)
{
    return {row.instruction,
            row.valueAt,
            {row.bits.begin(), row.bits.end()},
            kBitsSettleClocks,
            settleMs};
}

// An instruction pattern (AvrPart) of byte `byte`: its data bits ('o' for a read, 'i' for a
// write) are the same bits of that byte, in one byte of the instruction.
BitsInstruction FromPattern(const char* pattern, int byte, char data, std::uint32_t settleMs)
{
    BitsInstruction out;
    out.settleMs = settleMs;
    for (int i = 0; i < 32; ++i) {
        const auto at = static_cast<std::size_t>(i / 8);
        const int bit = 7 - i % 8;
        const auto one = static_cast<std::uint8_t>(1u << bit);
        if (pattern[i] == '1' || (pattern[i] == data && data == 'i'))
            out.instruction[at] = static_cast<std::uint8_t>(out.instruction[at] | one);
        if (pattern[i] == data) {
            out.valueAt = static_cast<int>(at);
            out.bits.push_back({bit, {byte, bit}});
        }
    }
    std::ranges::sort(out.bits, {}, &CatalogueBit::at);
    return out;
}

void AddFactoryDefault(const AvrPart& part, std::vector<CataloguePreset>& presets)
{
    const bool has = std::ranges::any_of(presets, [](const CataloguePreset& p) {
        return std::string_view(p.name) == "factory-default";
    });
    if (part.fuseCount == 0 || has)
        return;
    CataloguePreset factory{"factory-default", {0xFF, 0xFF, 0xFF}};
    for (int byte = 0; byte < part.fuseCount; ++byte)
        factory.fuses[static_cast<std::size_t>(byte)] = part.fuses[byte].factory;
    presets.push_back(factory);
}

SerialBits FromCatalogue(const AvrPart& part, const CataloguePart& row)
{
    const AvrPart::WriteTimes slowest = part.slowest();
    const std::uint32_t settle =
        WaitCovering(kBitsSettleMs, std::max(slowest.fuseUs, slowest.lockUs));
    SerialBits out;
    for (const CatalogueInstruction& r : row.fuseReads) {
        // The AT90S parts without a fuse read the others' sequence: its answer holds no bit of
        // theirs.
        BitsInstruction read = FromRow(r, settle);
        std::erase_if(read.bits,
                      [&](const CatalogueBit& b) { return b.bit.byte >= part.fuseCount; });
        out.fuseReads.push_back(read);
    }
    for (const CatalogueInstruction& w : row.fuseWrites)
        out.fuseWrites.push_back(FromRow(w, settle));
    if (part.instructions.lockRead)
        out.lockReads.push_back(FromRow(row.lockRead, settle));
    out.lockWrites.push_back(FromRow(row.lockWrite, settle));
    out.lockEcho = row.lockEcho;
    out.writesAll = true;
    out.keepsLockModes = KeepsLockModes(row);
    if (row.readsCalibration)
        out.calibrationRead = BitsInstruction{kReadCalibration, 3, {}, kBitsSettleClocks, settle};
    out.fuseConfirmation = row.fuseConfirmation;
    out.presets.assign(row.presets.begin(), row.presets.end());
    AddFactoryDefault(part, out.presets);
    return out;
}

SerialBits FromPatterns(const AvrPart& part)
{
    SerialBits out;
    for (int byte = 0; byte < part.fuseCount; ++byte) {
        const AvrPartFuse& fuse = part.fuses[byte];
        if (fuse.read)
            out.fuseReads.push_back(FromPattern(fuse.read, byte, 'o', 0));
        if (fuse.write)
            out.fuseWrites.push_back(
                FromPattern(fuse.write, byte, 'i', WaitCovering(0, part.fuseWriteUs)));
    }
    const bool lockBits = std::ranges::any_of(part.lockBits, [](const char* n) { return n; });
    if (part.instructions.lockRead)
        out.lockReads.push_back(FromPattern(part.instructions.lockRead, part.fuseCount, 'o', 0));
    if (part.instructions.lockWrite && lockBits)
        out.lockWrites.push_back(FromPattern(part.instructions.lockWrite, part.fuseCount, 'i',
                                             WaitCovering(0, part.lockWriteUs)));
    AddFactoryDefault(part, out.presets);
    return out;
}

// The first catalogue's pacing: a fixed wait after each flash page; written values polled by
// reading them back except those the parts answer while writing (and 0xFF, and 0x00 where the
// EEPROM answers it), which are waited out for at least kUnpolledWaitMs; EEPROM polled without a
// pause; every wait covering the part's slowest write.
WritePacing CataloguePacing(const AvrPart& part, const CataloguePart& row)
{
    constexpr std::uint32_t kChipEraseMs = 100;
    constexpr std::uint32_t kUnpolledWaitMs = 12;
    const AvrPart::WriteTimes slowest = part.slowest();
    std::vector<std::uint8_t> eepromUnpolled{0x80, 0x7F, 0xFF};
    if (part.eepromReadback[0] == 0x00 || part.eepromReadback[1] == 0x00)
        eepromUnpolled.push_back(0x00);
    return {WaitCovering(kChipEraseMs, slowest.chipEraseUs),
            false,
            WaitCovering(row.shown.pageWaitMs, slowest.flashUs),
            true,
            true,
            {0x80, 0x7F},
            eepromUnpolled,
            WaitCovering(kUnpolledWaitMs, slowest.flashUs),
            WaitCovering(kUnpolledWaitMs, slowest.eepromUs),
            kPollSleepMsOfParts,
            0,
            slowest.flashUs,
            slowest.eepromUs,
            true,
            false};
}

} // namespace

const SerialBits& SerialBitsOf(const AvrPart& part)
{
    static const std::map<const AvrPart*, SerialBits> all = [] {
        std::map<const AvrPart*, SerialBits> out;
        for (const AvrPart& p : AvrParts()) {
            const CataloguePart* row = p.catalogued ? FindCataloguePart(p.name) : nullptr;
            out.emplace(&p, row ? FromCatalogue(p, *row) : FromPatterns(p));
        }
        return out;
    }();
    return all.at(&part);
}

const AvrPart& UnidentifiedPart()
{
    return PresetPart();
}

const SerialBits& UnidentifiedSerialBits()
{
    static const SerialBits none = [] {
        SerialBits out = SerialBitsOf(UnidentifiedPart());
        out.fuseWrites.clear();
        return out;
    }();
    return none;
}

std::span<const CatalogueBox> EditorBoxesOf(const AvrPart& part)
{
    const CataloguePart* row = part.catalogued ? FindCataloguePart(part.name) : nullptr;
    return row ? row->boxes : std::span<const CatalogueBox>{};
}

const AvrPart& PresetPart()
{
    static const AvrPart& part = *FindPartByName("ATmega128");
    return part;
}

WritePacing PacingOf(const AvrPart& part)
{
    if (const CataloguePart* row = part.catalogued ? FindCataloguePart(part.name) : nullptr)
        return CataloguePacing(part, *row);
    // Value polling: bit 5 of the mode byte in page mode, bit 2 in byte mode.
    const auto valuePolling = [](std::uint8_t mode) {
        return (mode & (mode & 0x01 ? 0x20 : 0x04)) != 0;
    };
    return {WaitCovering(0, part.chipEraseUs),
            part.pollsReadyBusy(),
            0,
            valuePolling(part.flashMode),
            valuePolling(part.eepromMode),
            {part.flashReadback[0], part.flashReadback[1]},
            {part.eepromReadback[0], part.eepromReadback[1]},
            WaitCovering(0, part.flashWriteUs),
            WaitCovering(0, part.eepromWriteUs),
            kPollSleepMsOfParts,
            kPollSleepMsOfParts,
            part.flashWriteUs,
            part.eepromWriteUs,
            false,
            // Pages where the part's data says its EEPROM is written by page (bit 0 of its mode
            // byte) and gives the two page instructions; byte by byte on every other part.
            (part.eepromMode & 0x01) != 0 && part.eepromPageBytes > 1 &&
                part.instructions.eepromLoadPage && part.instructions.eepromWritePage};
}

std::uint32_t WaitCovering(std::uint32_t usualMs, std::uint32_t slowestUs)
{
    return std::max(usualMs, (slowestUs + 999) / 1000);
}

} // namespace vardel
