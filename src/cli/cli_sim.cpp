#include "cli/cli.h"
#include "cli/command_line.h"
#include "hw/file_names.h"

#include "files/binary_file.h"
#include "files/image_file.h"
#include "files/unHEX.h"
#include "sim/avr_target.h"
#include "sim/chips.h"
#include "sim/eeprom_24cxx.h"
#include "sim/sim_board.h"
#include "sim/spi_flash_chip.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace vardel::cli {

// Loads an image file into a chip memory, FF where the file gives nothing; the memory is left as it
// was when the file cannot be read or is damaged. An AVR memory takes its own region of a
// whole-program HEX file (the EEPROM avr-gcc's .eeprom addresses from 0x810000 up).
bool loadImage(const std::string& file, std::vector<std::uint8_t>& memory,
               std::optional<AvrMemory> avr)
{
    // One byte more than the memory, so that a file too long for it gets its warning.
    ImageRead read = ReadImageFile(file, memory.size() + 1);
    switch (read.failure) {
    case ImageFailure::None:
        break;
    case ImageFailure::Empty:
        std::fprintf(stderr, "ERROR: %s\n", read.detail.c_str());
        return false;
    case ImageFailure::UnknownKind:
        std::fprintf(stderr, "ERROR: %s: the name must end in BIN or HEX\n", file.c_str());
        return false;
    case ImageFailure::Unreadable:
        std::fprintf(stderr, "ERROR: Can't open file %s: it %s\n", file.c_str(),
                     read.detail.c_str());
        return false;
    case ImageFailure::Malformed:
        std::fprintf(stderr, "ERROR: %s: %s\n", file.c_str(), read.detail.c_str());
        return false;
    }
    std::vector<std::uint8_t> image(memory.size(), 0xFF);
    const AvrPlacement split = avr ? PlaceAvrImage(read.file, *avr, image) : AvrPlacement{};
    const HexPlacement placed = avr ? split.placed : PlaceImageFile(read.file, image);
    if (!read.warning.empty())
        std::fprintf(stderr, "WARNING: %s\n", read.warning.c_str());
    if (read.file.kind == FileKind::Bin && placed.outside > 0)
        // The text the EEPROM page's Open gives for the same file.
        std::fprintf(stderr,
                     "WARNING: %s: File contains more data than processor can fit:\n"
                     "Data will be truncated\n",
                     file.c_str());
    if (read.file.kind == FileKind::Hex) {
        if (placed.inside == 0) {
            std::fprintf(stderr, "ERROR: %s: %s\n", file.c_str(), kNoDataForMemory);
            return false;
        }
        std::string warning = avr ? OtherMemoriesWarning(split, *avr) : std::string();
        if (placed.outside > 0)
            warning += (warning.empty() ? "" : "\r") + OutsideMemoryWarning(placed);
        if (!warning.empty()) {
            std::replace(warning.begin(), warning.end(), '\r', '\n');
            std::fprintf(stderr, "WARNING: %s\n", warning.c_str());
        }
    }
    memory = std::move(image);
    return true;
}

bool saveImage(const std::string& file, const std::vector<std::uint8_t>& memory)
{
    bool ok = false;
    switch (FileKindOf(file)) {
    case FileKind::Bin:
        ok = WriteBinaryFile(file, memory.data(), memory.size());
        break;
    case FileKind::Hex:
        ok = WriteIntelHexFile(file, memory.data(), memory.size());
        break;
    case FileKind::Other:
        std::fprintf(stderr, "ERROR: %s: the name must end in BIN or HEX\n", file.c_str());
        return false;
    }
    if (!ok)
        std::fprintf(stderr, "ERROR: Can't create file!! (%s)\n", file.c_str());
    return ok;
}

namespace {

int show(sim::SimBoard& board)
{
    sim::ChipKeys keys;
    if (board.eeprom())
        board.eeprom()->describe(keys);
    if (board.avr())
        board.avr()->describe(keys);
    if (keys.find("eeprom") == keys.end())
        std::printf("eeprom=none\n");
    else
        std::printf("eeprom=%s\n", keys["eeprom"].c_str());
    if (keys.find("avr") == keys.end() && keys.find("avr.signature") == keys.end() &&
        keys.find("flash") == keys.end())
        std::printf("avr=none\n");
    for (const auto& [key, value] : keys)
        if (key != "eeprom")
            std::printf("%s=%s\n", key.c_str(), value.c_str());
    return Success;
}

// sim insert-eeprom TYPE [FILE] [--set KEY=VALUE ...]: one serial EEPROM on the board at a time,
// a 24Cxx in the EEPROM socket or a 25xx or 93Cxx in the AVR socket.
int insertEeprom(sim::SimBoard& board, const QStringList& args)
{
    QString file, error;
    sim::SerialEeprom chip = MakeInsertedEeprom(args, file, error);
    if (!chip)
        return usageError(error);
    if (!file.isEmpty() && !loadImage(FileNameFromQString(file), chip.memory()))
        return Failure;
    sim::InsertSerialEeprom(board, std::move(chip));
    return Success;
}

// sim insert-flash PART [FILE] [--set KEY=VALUE ...]: an SPI flash in the AVR socket, where the
// 25xx go, in place of whatever was there.
int insertFlash(sim::SimBoard& board, const QStringList& args)
{
    QString file, error;
    auto chip = MakeInsertedFlash(args, file, error);
    if (!chip)
        return usageError(error);
    if (!file.isEmpty() && !loadImage(FileNameFromQString(file), chip->memory()))
        return Failure;
    board.removeAvr();
    board.insertAvr(std::move(chip));
    return Success;
}

// sim insert-avr DEVICE|--signature XXYYZZ [--flash FILE] [--eeprom FILE] [--set KEY=VALUE ...]
int insertAvr(sim::SimBoard& board, const QStringList& args)
{
    QString flash, eeprom, error;
    auto chip = MakeInsertedAvr(args, flash, eeprom, error);
    if (!chip)
        return usageError(error);
    auto* target = static_cast<sim::AvrTarget*>(chip.get());
    if (!flash.isEmpty() &&
        !loadImage(FileNameFromQString(flash), target->flash(), AvrMemory::Flash))
        return Failure;
    if (!eeprom.isEmpty() &&
        !loadImage(FileNameFromQString(eeprom), target->eeprom(), AvrMemory::Eeprom))
        return Failure;
    board.insertAvr(std::move(chip));
    return Success;
}

int exportAvr(sim::SimBoard& board, bool flash, const std::string& file)
{
    if (auto* chip = dynamic_cast<sim::SpiFlashChip*>(board.avr()); chip && flash)
        return saveImage(file, chip->memory()) ? Success : Failure;
    auto* target = dynamic_cast<sim::AvrTarget*>(board.avr());
    if (!target) {
        if (auto* serial = dynamic_cast<sim::AvrSocketEeprom*>(board.avr()))
            std::fprintf(stderr, "ERROR: the AVR socket holds the %s, not an AVR\n",
                         serial->name().c_str());
        else
            std::fprintf(stderr, "ERROR: the AVR socket is empty\n");
        return Failure;
    }
    return saveImage(file, flash ? target->flash() : target->eeprom()) ? Success : Failure;
}

int exportMemory(sim::SimBoard& board, const QStringList& args)
{
    const std::string file = FileNameFromQString(args[1]);
    if (args[0] == QLatin1String("eeprom")) {
        auto* eeprom = dynamic_cast<sim::Eeprom24Cxx*>(board.eeprom());
        auto* onAvrLines = dynamic_cast<sim::AvrSocketEeprom*>(board.avr());
        if (!eeprom && !onAvrLines) {
            std::fprintf(stderr, "ERROR: the board holds no serial EEPROM\n");
            return Failure;
        }
        return saveImage(file, eeprom ? eeprom->memory() : onAvrLines->memory()) ? Success
                                                                                 : Failure;
    }
    return exportAvr(board, args[0] == QLatin1String("flash"), file);
}

} // namespace

int runSim(Context& ctx, const QStringList& args)
{
    sim::SimBoard& board = *ctx.board->sim();
    const QString action = args[0];
    const QStringList rest = args.mid(1);
    if (action == QLatin1String("show"))
        return show(board);
    if (action == QLatin1String("insert-eeprom"))
        return insertEeprom(board, rest);
    if (action == QLatin1String("insert-avr"))
        return insertAvr(board, rest);
    if (action == QLatin1String("insert-flash"))
        return insertFlash(board, rest);
    if (action == QLatin1String("remove")) {
        // A 25xx or 93Cxx is the board's EEPROM, in the AVR socket.
        if (rest[0] == QLatin1String("eeprom") && !board.eeprom() &&
            dynamic_cast<sim::AvrSocketEeprom*>(board.avr()))
            board.removeAvr();
        else if (rest[0] == QLatin1String("eeprom"))
            board.removeEeprom();
        else
            board.removeAvr();
        return Success;
    }
    return exportMemory(board, rest);
}

} // namespace vardel::cli
