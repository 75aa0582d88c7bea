#include "cli/cli.h"
#include "hw/file_names.h"

#include "files/binary_file.h"
#include "files/image_file.h"
#include "files/unHEX.h"
#include "sim/avr_target.h"
#include "sim/chips.h"
#include "sim/eeprom_24cxx.h"
#include "sim/sim_board.h"

#include <algorithm>
#include <vector>

namespace vardel::cli {

namespace {

// Loads an image file into a chip memory, FF where the file gives nothing; the memory is left as it
// was when the file cannot be read or is damaged. An AVR's internal EEPROM takes avr-gcc's
// .eeprom addresses from 0x810000 up as its own.
bool loadImage(const std::string& file, std::vector<std::uint8_t>& memory, bool avrEeprom = false)
{
    const ImageRead read = ReadImageFile(file, memory.size());
    switch (read.failure) {
    case ImageFailure::None:
        break;
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
    const std::uint64_t offset =
        avrEeprom && read.file.kind == FileKind::Hex ? AvrEepromHexOffset(read.file.hex) : 0;
    const HexPlacement placed = PlaceImageFile(read.file, image, offset);
    if (read.file.kind == FileKind::Hex) {
        if (placed.inside == 0) {
            std::fprintf(stderr, "ERROR: %s: %s\n", file.c_str(), kNoDataForMemory);
            return false;
        }
        if (placed.outside > 0) {
            std::string warning = OutsideMemoryWarning(placed);
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
    if (keys.find("avr") == keys.end() && keys.find("avr.signature") == keys.end())
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
    QStringList positional, settings;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--set") && i + 1 < args.size())
            settings << args[++i];
        else if (!args[i].startsWith(QLatin1String("--")))
            positional << args[i];
        else
            positional.clear();
    }
    if (positional.isEmpty() || positional.size() > 2 ||
        positional.size() + 2 * settings.size() != args.size())
        return usageError(
            QStringLiteral("usage: sim insert-eeprom TYPE [FILE] [--set KEY=VALUE ...]"));
    std::string error;
    // The only thing a new chip can fail on is its type or a setting: a usage error.
    sim::SerialEeprom chip = sim::MakeSerialEeprom(positional[0].toStdString(), error);
    if (!chip)
        return usageError(QString::fromStdString(error));
    for (const QString& setting : settings) {
        const int eq = setting.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return usageError(
                QStringLiteral("--set takes KEY=VALUE, for example eeprom.status=8C"));
        const std::string key = setting.left(eq).toStdString();
        if (!chip.avrSocket)
            return usageError(
                QStringLiteral("%1 is not a key of the %2").arg(setting.left(eq), positional[0]));
        if (!chip.avrSocket->set(key, setting.mid(eq + 1).toStdString(), error))
            return usageError(QString::fromStdString(error));
    }
    if (positional.size() == 2 && !loadImage(FileNameFromQString(positional[1]), chip.memory()))
        return Failure;
    board.removeEeprom();
    if (dynamic_cast<sim::AvrSocketEeprom*>(board.avr()) || chip.avrSocket)
        board.removeAvr();
    if (chip.avrSocket)
        board.insertAvr(std::move(chip.avrSocket));
    else
        board.insertEeprom(std::move(chip.eepromSocket));
    return Success;
}

// sim insert-avr DEVICE|--signature XXYYZZ [--flash FILE] [--eeprom FILE] [--set KEY=VALUE ...]
int insertAvr(sim::SimBoard& board, const QStringList& args)
{
    QString device, signature, flash, eeprom;
    QStringList settings;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--signature") && hasValue)
            signature = args[++i];
        else if (a == QLatin1String("--flash") && hasValue)
            flash = args[++i];
        else if (a == QLatin1String("--eeprom") && hasValue)
            eeprom = args[++i];
        else if (a == QLatin1String("--set") && hasValue)
            settings << args[++i];
        else if (!a.startsWith(QLatin1String("--")) && device.isEmpty())
            device = a;
        else
            return usageError(
                QStringLiteral("usage: sim insert-avr DEVICE|--signature XXYYZZ "
                               "[--flash FILE] [--eeprom FILE] [--set KEY=VALUE ...]"));
    }
    if (device.isEmpty() == signature.isEmpty())
        return usageError(QStringLiteral("sim insert-avr takes a device name or --signature"));
    std::string error;
    // A device, a signature or a setting that the simulated chips do not have is a usage error.
    auto chip = sim::MakeAvrChip(device.toStdString(), signature.toStdString(), error);
    if (!chip)
        return usageError(QString::fromStdString(error));
    auto* target = static_cast<sim::AvrTarget*>(chip.get());
    for (const QString& setting : settings) {
        const int eq = setting.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return usageError(QStringLiteral("--set takes KEY=VALUE, for example avr.fuse.low=E1"));
        if (!target->set(setting.left(eq).toStdString(), setting.mid(eq + 1).toStdString(), error))
            return usageError(QString::fromStdString(error));
    }
    if (!flash.isEmpty() && !loadImage(FileNameFromQString(flash), target->flash()))
        return Failure;
    if (!eeprom.isEmpty() && !loadImage(FileNameFromQString(eeprom), target->eeprom(), true))
        return Failure;
    board.insertAvr(std::move(chip));
    return Success;
}

int exportAvr(sim::SimBoard& board, bool flash, const std::string& file)
{
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
    if (args.size() != 2)
        return usageError(QStringLiteral("usage: sim export eeprom|flash|avr-eeprom FILE"));
    if (CheckOutputName(args[1]) != Success)
        return Usage;
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
    if (args[0] == QLatin1String("flash") || args[0] == QLatin1String("avr-eeprom"))
        return exportAvr(board, args[0] == QLatin1String("flash"), file);
    return usageError(QStringLiteral("unknown memory '%1'").arg(args[0]));
}

} // namespace

int runSim(Context& ctx, const QStringList& args)
{
    sim::SimBoard* board = ctx.board->sim();
    if (!board)
        return usageError(QStringLiteral("the sim commands need the simulated board (--port sim)"));
    if (args.isEmpty())
        return usageError(QStringLiteral("usage: sim show|insert-eeprom|insert-avr|remove|export"));
    const QString action = args[0];
    const QStringList rest = args.mid(1);
    if (action == QLatin1String("show"))
        return rest.isEmpty() ? show(*board)
                              : usageError(QStringLiteral("sim show takes no arguments"));
    if (action == QLatin1String("insert-eeprom"))
        return insertEeprom(*board, rest);
    if (action == QLatin1String("insert-avr"))
        return insertAvr(*board, rest);
    if (action == QLatin1String("remove")) {
        if (rest.size() != 1)
            return usageError(QStringLiteral("usage: sim remove eeprom|avr"));
        if (rest[0] == QLatin1String("eeprom") && !board->eeprom() &&
            dynamic_cast<sim::AvrSocketEeprom*>(board->avr()))
            board->removeAvr();
        else if (rest[0] == QLatin1String("eeprom"))
            board->removeEeprom();
        else if (rest[0] == QLatin1String("avr"))
            board->removeAvr();
        else
            return usageError(QStringLiteral("usage: sim remove eeprom|avr"));
        return Success;
    }
    if (action == QLatin1String("export"))
        return exportMemory(*board, rest);
    return usageError(QStringLiteral("unknown sim command '%1'").arg(action));
}

} // namespace vardel::cli
