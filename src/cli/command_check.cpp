// The usage checks of vardel-cli-core: everything a command line says is checked here, before
// the port is opened, the board folder is created or claimed, or the trace file is created, so
// that a typing slip exits 2 at once and leaves nothing behind.
#include "cli/command_line.h"

#include "avr/device_catalogue.h"
#include "avr/lock_fuse_editor.h"
#include "files/binary_file.h"
#include "hw/file_names.h"
#include "i2c/eeprom_types.h"
#include "parts/avr_parts.h"
#include "sim/chips.h"
#include "sim/spi_flash_chip.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel::cli {

namespace fs = std::filesystem;

namespace {

const char* kAvrUsage = "usage: avr identify|erase|blank-test, avr read-flash|program-flash|"
                        "verify-flash FILE, avr read-eeprom|program-eeprom|verify-eeprom FILE "
                        "(program with --verify), "
                        "avr read-fuses|program-fuses [NAME=0|1 ...] [--preset P], "
                        "avr read-lock|program-lock [NAME=0|1 ...]";
const char* kBitsUsage = "usage: avr read-fuses | program-fuses [NAME=0|1 ...] [--preset "
                         "factory-default|low-frequency|high-frequency] | read-lock | "
                         "program-lock [NAME=0|1 ...]";
const char* kLinesUsage = "usage: lines [vcc=0|1] [sck=0|1] [mosi=0|1] [reset=0|1] [xtal=0|1]";
const char* kInsertAvrUsage = "usage: sim insert-avr DEVICE|--signature XXYYZZ [--flash FILE] "
                              "[--eeprom FILE] [--set KEY=VALUE ...]";

QString FromStd(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

QString NoArguments(const QString& what, const QStringList& args)
{
    return args.isEmpty() ? QString() : QStringLiteral("%1 takes no arguments").arg(what);
}

QString CheckEeprom(const QStringList& words)
{
    // eeprom program verifies in the same command with --verify.
    QStringList args = words;
    if (!args.isEmpty() && args[0] == QLatin1String("program") &&
        args.count(QStringLiteral("--verify")) == 1)
        args.removeOne(QStringLiteral("--verify"));
    const bool erase = args.size() == 2 && args[0] == QLatin1String("erase");
    if (args.size() != 3 && !erase)
        return QStringLiteral("usage: eeprom read|program|verify TYPE FILE (program with "
                              "--verify), or eeprom erase TYPE");
    const QString& action = args[0];
    const bool read = action == QLatin1String("read");
    if (!read && !erase && action != QLatin1String("program") && action != QLatin1String("verify"))
        return QStringLiteral("unknown eeprom command '%1'").arg(action);
    const int type = FindEepromType(args[1].toStdString());
    if (type < 0)
        return QStringLiteral("unknown EEPROM type '%1' (%2)")
            .arg(args[1], QString::fromStdString(EepromTypeNames()));
    if (erase)
        return kEepromTypes[static_cast<std::size_t>(type)].bus == EepromBus::Microwire
                   ? QString()
                   : QStringLiteral("eeprom erase is for the 93Cxx types, which have ERAL");
    // A read whose file could not be written would be thrown away after the whole chip.
    return read ? OutputNameProblem(args[2]) : InputNameProblem(args[2]);
}

QString CheckFlash(const QStringList& words)
{
    QStringList args = words;
    if (!args.isEmpty() && args[0] == QLatin1String("program") &&
        args.count(QStringLiteral("--verify")) == 1)
        args.removeOne(QStringLiteral("--verify"));
    const QString usage = QStringLiteral("usage: flash identify|erase|blank-test, or flash "
                                         "read|program|verify FILE (program with --verify)");
    if (args.isEmpty())
        return usage;
    const QString& action = args[0];
    const bool bare = action == QLatin1String("identify") || action == QLatin1String("erase") ||
                      action == QLatin1String("blank-test");
    const bool read = action == QLatin1String("read");
    if (!bare && !read && action != QLatin1String("program") && action != QLatin1String("verify"))
        return QStringLiteral("unknown flash command '%1'").arg(action);
    if (args.size() != (bare ? 1 : 2))
        return usage;
    if (bare)
        return {};
    // A read whose file could not be written would be thrown away after the whole chip.
    return read ? OutputNameProblem(args[1]) : InputNameProblem(args[1]);
}

QString CheckAvr(const QStringList& args)
{
    if (args.isEmpty())
        return QString::fromLatin1(kAvrUsage);
    const QString& action = args[0];
    QStringList rest = args.mid(1);
    if (action == QLatin1String("parts"))
        return NoArguments(QStringLiteral("avr parts"), rest);
    // program-flash and program-eeprom verify in the same job with --verify.
    if (action.startsWith(QLatin1String("program-")) && !action.endsWith(QLatin1String("-fuses")) &&
        !action.endsWith(QLatin1String("-lock")) && rest.count(QStringLiteral("--verify")) == 1)
        rest.removeOne(QStringLiteral("--verify"));
    const bool fuses = action.endsWith(QLatin1String("-fuses"));
    if (action == QLatin1String("read-fuses") || action == QLatin1String("program-fuses") ||
        action == QLatin1String("read-lock") || action == QLatin1String("program-lock")) {
        BitWords words;
        return ParseBitWords(fuses, action.startsWith(QLatin1String("program-")), rest, words);
    }
    const bool takesFile =
        action == QLatin1String("read-flash") || action == QLatin1String("program-flash") ||
        action == QLatin1String("verify-flash") || action == QLatin1String("read-eeprom") ||
        action == QLatin1String("program-eeprom") || action == QLatin1String("verify-eeprom");
    const bool bare = action == QLatin1String("identify") || action == QLatin1String("erase") ||
                      action == QLatin1String("blank-test");
    if (!takesFile && !bare)
        return QStringLiteral("unknown avr command '%1'").arg(action);
    if (rest.size() != (takesFile ? 1 : 0))
        return QString::fromLatin1(kAvrUsage);
    if (!takesFile)
        return {};
    // A read whose file could not be written would be thrown away after the whole memory.
    if (action.startsWith(QLatin1String("read-")))
        return OutputNameProblem(rest[0]);
    // An AVR memory is also read from the ELF program avr-gcc links.
    return IsElfName(FileNameFromQString(rest[0])) ? QString() : InputNameProblem(rest[0]);
}

QString CheckSim(const QStringList& args, const std::string& port)
{
    if (port != "sim")
        return QStringLiteral("the sim commands need the simulated board (--port sim)");
    if (args.isEmpty())
        return QStringLiteral(
            "usage: sim show|insert-eeprom|insert-avr|insert-flash|remove|export");
    const QString& action = args[0];
    const QStringList rest = args.mid(1);
    if (action == QLatin1String("show"))
        return NoArguments(QStringLiteral("sim show"), rest);
    if (action == QLatin1String("insert-eeprom")) {
        QString file, error;
        MakeInsertedEeprom(rest, file, error);
        return error;
    }
    if (action == QLatin1String("insert-flash")) {
        QString file, error;
        MakeInsertedFlash(rest, file, error);
        return error;
    }
    if (action == QLatin1String("insert-avr")) {
        QString flash, eeprom, error;
        MakeInsertedAvr(rest, flash, eeprom, error);
        return error;
    }
    if (action == QLatin1String("remove")) {
        if (rest.size() != 1 ||
            (rest[0] != QLatin1String("eeprom") && rest[0] != QLatin1String("avr")))
            return QStringLiteral("usage: sim remove eeprom|avr");
        return {};
    }
    if (action == QLatin1String("export")) {
        if (rest.size() != 2)
            return QStringLiteral("usage: sim export eeprom|flash|avr-eeprom FILE");
        if (rest[0] != QLatin1String("eeprom") && rest[0] != QLatin1String("flash") &&
            rest[0] != QLatin1String("avr-eeprom"))
            return QStringLiteral("unknown memory '%1'").arg(rest[0]);
        return OutputNameProblem(rest[1]);
    }
    return QStringLiteral("unknown sim command '%1'").arg(action);
}

} // namespace

QString InputNameProblem(const QString& argument)
{
    if (FileKindOf(FileNameFromQString(argument)) == FileKind::Other)
        return QStringLiteral("'%1': the file name must end in BIN or HEX").arg(argument);
    return {};
}

QString OutputNameProblem(const QString& argument)
{
    if (QString problem = InputNameProblem(argument); !problem.isEmpty())
        return problem;
    fs::path target(FileNameFromQString(argument));
    std::error_code ec;
    // A link is followed: its target is what a save replaces.
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        const fs::path resolved = fs::canonical(target, ec);
        if (ec)
            return QStringLiteral("'%1' is a link to nowhere: a read cannot be saved there")
                .arg(argument);
        target = resolved;
    }
    const fs::file_status status = fs::status(target, ec);
    const bool exists = fs::exists(status);
    if (fs::is_directory(status))
        return QStringLiteral("'%1' is a folder: a read cannot be saved there").arg(argument);
    if (exists && !fs::is_regular_file(status))
        return QStringLiteral("'%1' is not a plain file (a device, a FIFO or a socket): a read "
                              "cannot be saved there")
            .arg(argument);
    const std::string name = target.string();
    const auto slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : name.substr(0, slash + 1);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return QStringLiteral("'%1': there is no folder %2").arg(argument, FromStd(folder));
    if (::access(folder.c_str(), W_OK | X_OK) == 0)
        return {};
    // A file the folder does not let be replaced is rewritten in place, if it may be written.
    const int err = errno;
    if (exists && ::access(name.c_str(), W_OK) == 0)
        return {};
    return QStringLiteral("'%1': the folder %2 takes no new files (%3)")
        .arg(argument, FromStd(folder), QString::fromLocal8Bit(std::strerror(err)));
}

QString ParseLineLevels(const QStringList& args, std::array<std::uint8_t, 5>& levels)
{
    static const char* const kNames[] = {"vcc", "sck", "mosi", "reset", "xtal"};
    levels = {};
    bool named[5] = {};
    for (const QString& arg : args) {
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString name = arg.left(eq).toLower();
        const QString value = arg.mid(eq + 1);
        int index = -1;
        for (int i = 0; i < 5; ++i)
            if (name == QLatin1String(kNames[i]))
                index = i;
        if (eq <= 0 || index < 0 || (value != QLatin1String("0") && value != QLatin1String("1")))
            return QString::fromLatin1(kLinesUsage);
        if (named[index])
            return QStringLiteral("%1 is named twice").arg(arg.left(eq));
        named[index] = true;
        levels[static_cast<std::size_t>(index)] = value == QLatin1String("1") ? 1 : 0;
    }
    return {};
}

QString ParseBitWords(bool fuses, bool program, const QStringList& args, BitWords& words)
{
    words = BitWords{};
    bool preset = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& word = args[i];
        if (!program)
            return QString::fromLatin1(kBitsUsage);
        if (fuses &&
            (word == QLatin1String("--preset") || word.startsWith(QLatin1String("--preset=")))) {
            QString name = word.mid(9);
            if (word == QLatin1String("--preset")) {
                if (++i == args.size())
                    return QString::fromLatin1(kBitsUsage);
                name = args[i];
            }
            if (preset)
                return QStringLiteral("only one --preset");
            if (name != QLatin1String("factory-default") &&
                name != QLatin1String("low-frequency") && name != QLatin1String("high-frequency"))
                return QStringLiteral("unknown preset '%1'").arg(name);
            preset = true;
            words.preset = name;
            continue;
        }
        const qsizetype equals = word.indexOf(QLatin1Char('='));
        const QString value = equals > 0 ? word.mid(equals + 1) : QString();
        if (equals <= 0 || (value != QLatin1String("0") && value != QLatin1String("1")))
            return QStringLiteral("'%1' is not NAME=0 or NAME=1").arg(word);
        const QString name = word.left(equals);
        // A name no chip has is wrong whatever the socket holds.
        if (!AllBitNames().count(name.toUpper().toStdString()))
            return QStringLiteral("%1 is the name of no lock or fuse bit").arg(name);
        for (const auto& [earlier, programmed] : words.named)
            if (earlier.compare(name, Qt::CaseInsensitive) == 0)
                return QStringLiteral("%1 is named twice").arg(name);
        words.named.emplace_back(name, value == QLatin1String("0"));
    }
    return {};
}

std::set<std::string> AllBitNames()
{
    using E = LockFuseEditor;
    std::set<std::string> names;
    for (int box = 1; box <= E::kBoxCount; ++box)
        if (!E::Info(box).inert && E::Info(box).caption)
            names.insert(E::Info(box).caption);
    for (const DeviceEntry& entry : DeviceCatalogue())
        if (entry.checkBox35)
            names.insert(entry.checkBox35);
    // The parts of the part table name their bits themselves.
    const auto add = [&names](const char* name) {
        if (name) {
            std::string upper(name);
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            names.insert(upper);
        }
    };
    for (const AvrPart& part : AvrParts()) {
        for (const AvrPartFuse& fuse : part.fuses)
            for (const char* bit : fuse.bits)
                add(bit);
        for (const char* bit : part.lockBits)
            add(bit);
    }
    return names;
}

std::unique_ptr<sim::AvrSocketChip> MakeInsertedAvr(const QStringList& args, QString& flash,
                                                    QString& eeprom, QString& error)
{
    QString device, signature;
    QStringList settings;
    for (qsizetype i = 0; i < args.size(); ++i) {
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
        else {
            error = QString::fromLatin1(kInsertAvrUsage);
            return nullptr;
        }
    }
    if (device.isEmpty() == signature.isEmpty()) {
        error = QStringLiteral("sim insert-avr takes a device name or --signature");
        return nullptr;
    }
    for (const QString* file : {&flash, &eeprom}) {
        if (!file->isEmpty())
            error = InputNameProblem(*file);
        if (!error.isEmpty())
            return nullptr;
    }
    std::string why;
    // A device, a signature or a setting that the simulated chips do not have is a usage error.
    auto chip = sim::MakeAvrChip(device.toStdString(), signature.toStdString(), why);
    if (!chip) {
        error = FromStd(why);
        return nullptr;
    }
    for (const QString& setting : settings) {
        const qsizetype eq = setting.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            error = QStringLiteral("--set takes KEY=VALUE, for example avr.fuse.low=E1");
            return nullptr;
        }
        if (!chip->set(setting.left(eq).toStdString(), setting.mid(eq + 1).toStdString(), why)) {
            error = FromStd(why);
            return nullptr;
        }
    }
    return chip;
}

QString ParseAutoWords(const QStringList& args, AutoWords& words)
{
    const QString usage =
        QStringLiteral("usage: auto FILE.vardel|FILE.hex [--count N] [--log FILE] [--keep-going] "
                       "[--wait-for-chip]");
    words = AutoWords{};
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--count") && hasValue) {
            bool ok = false;
            words.count = args[++i].toInt(&ok);
            if (!ok || words.count < 1)
                return QStringLiteral("--count takes a number from 1 up");
        } else if (a == QLatin1String("--keep-going") && !words.keepGoing) {
            words.keepGoing = true;
        } else if (a == QLatin1String("--wait-for-chip") && !words.waitForChip) {
            words.waitForChip = true;
        } else if (a == QLatin1String("--log") && hasValue && words.log.isEmpty()) {
            words.log = args[++i];
            if (words.log.isEmpty())
                return QStringLiteral("--log is empty: give the name of the CSV file");
        } else if (!a.startsWith(QLatin1String("--")) && words.file.isEmpty()) {
            words.file = a;
        } else {
            return usage;
        }
    }
    if (words.file.isEmpty())
        return usage;
    if (!words.file.endsWith(QLatin1String(".vardel")) &&
        FileKindOf(FileNameFromQString(words.file)) != FileKind::Hex &&
        !IsElfName(FileNameFromQString(words.file)))
        return QStringLiteral(
                   "'%1': auto takes a project file (.vardel), a one-image HEX file or an ELF "
                   "program")
            .arg(words.file);
    return {};
}

namespace {

// The words of sim insert-eeprom and sim insert-flash: the chip's name, an optional FILE (whose
// name is checked) and --set KEY=VALUE pairs; false, with `error`, when they do not fit `usage`.
bool SplitInsertWords(const QStringList& args, const char* usage, QStringList& positional,
                      QStringList& settings, QString& file, QString& error)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--set") && i + 1 < args.size())
            settings << args[++i];
        else if (!args[i].startsWith(QLatin1String("--")))
            positional << args[i];
        else
            positional.clear();
    }
    if (positional.isEmpty() || positional.size() > 2 ||
        positional.size() + 2 * settings.size() != args.size()) {
        error = QString::fromLatin1(usage);
        return false;
    }
    if (positional.size() == 2) {
        file = positional[1];
        if (error = InputNameProblem(file); !error.isEmpty())
            return false;
    }
    return true;
}

} // namespace

sim::SerialEeprom MakeInsertedEeprom(const QStringList& args, QString& file, QString& error)
{
    QStringList positional, settings;
    if (!SplitInsertWords(args, "usage: sim insert-eeprom TYPE [FILE] [--set KEY=VALUE ...]",
                          positional, settings, file, error))
        return {};
    std::string why;
    // A type or a setting that the simulated chips do not have is a usage error.
    sim::SerialEeprom chip = sim::MakeSerialEeprom(positional[0].toStdString(), why);
    if (!chip) {
        error = FromStd(why);
        return {};
    }
    for (const QString& setting : settings) {
        const qsizetype eq = setting.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            error = QStringLiteral("--set takes KEY=VALUE, for example eeprom.status=8C");
            return {};
        }
        if (!chip.avrSocket) {
            error =
                QStringLiteral("%1 is not a key of the %2").arg(setting.left(eq), positional[0]);
            return {};
        }
        if (!chip.avrSocket->set(setting.left(eq).toStdString(), setting.mid(eq + 1).toStdString(),
                                 why)) {
            error = FromStd(why);
            return {};
        }
    }
    return chip;
}

std::unique_ptr<sim::SpiFlashChip> MakeInsertedFlash(const QStringList& args, QString& file,
                                                     QString& error)
{
    QStringList positional, settings;
    if (!SplitInsertWords(args, "usage: sim insert-flash PART [FILE] [--set KEY=VALUE ...]",
                          positional, settings, file, error))
        return {};
    auto chip = sim::MakeSpiFlashChip(positional[0].toStdString());
    if (!chip) {
        error = QStringLiteral("There is no SPI flash of part \"%1\"; the parts are %2")
                    .arg(positional[0], FromStd(sim::SpiFlashChip::typeNames()));
        return {};
    }
    for (const QString& setting : settings) {
        const qsizetype eq = setting.indexOf(QLatin1Char('='));
        std::string why;
        if (eq <= 0) {
            error = QStringLiteral("--set takes KEY=VALUE, for example flash.status=1C");
            return {};
        }
        if (!chip->set(setting.left(eq).toStdString(), setting.mid(eq + 1).toStdString(), why)) {
            error = FromStd(why);
            return {};
        }
    }
    return chip;
}

QString CheckCommand(const CommandLine& line)
{
    sim::PortChoice port;
    if (const std::string problem = sim::CheckBoardOptions(line.board, port); !problem.empty())
        return FromStd(problem);
    const QString& command = line.command;
    const QStringList& args = line.args;
    if (command == QLatin1String("convert"))
        return {}; // the conversion checks its own words, and needs no board
    if (command == QLatin1String("ports"))
        return NoArguments(command, args);
    if (command == QLatin1String("check"))
        return NoArguments(command, args);
    if (command == QLatin1String("lines")) {
        std::array<std::uint8_t, 5> levels{};
        return ParseLineLevels(args, levels);
    }
    if (command == QLatin1String("eeprom"))
        return CheckEeprom(args);
    if (command == QLatin1String("flash"))
        return CheckFlash(args);
    if (command == QLatin1String("avr"))
        return CheckAvr(args);
    if (command == QLatin1String("sim"))
        return CheckSim(args, port.kind);
    if (command == QLatin1String("auto")) {
        AutoWords words;
        return ParseAutoWords(args, words);
    }
    return QStringLiteral("unknown command '%1'").arg(command);
}

} // namespace vardel::cli
