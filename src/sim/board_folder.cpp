#include "sim/board_folder.h"

#include "files/binary_file.h"
#include "files/file_access.h"
#include "files/file_hold.h"

#include "sim/board_ini.h"
#include "sim/chips.h"
#include "sim/sim_board.h"
#include "sim/spi_flash_chip.h"

#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vardel::sim {

namespace fs = std::filesystem;

namespace {
const char* const kBoardFile = "board.ini";
const char* const kGreeting = "Hello from the 24C256 on Vardel's simulated board!\n";

using Files = std::map<std::string, std::string>;

enum class Read { Ok, Missing, Failed };

// The whole file; a folder in its place, anything else that is not a plain file (a device, a
// FIFO), or a file that cannot be read, is an error naming it.
Read readWhole(const fs::path& path, std::string& content, std::string& error)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found)
        return Read::Missing;
    if (fs::is_directory(status)) {
        error = path.string() + " is a folder, not a file";
        return Read::Failed;
    }
    // The largest chip memory (a 32 MiB flash) or any board.ini.
    constexpr std::size_t kLargestFile = std::size_t{32} << 20;
    const FileBytes file = ReadWholeFile(path.string(), kLargestFile);
    if (!file.ok()) {
        error = "Can't read " + path.string() + ": it " + ReadFailureReason(file.failure);
        return Read::Failed;
    }
    content.assign(file.bytes.begin(), file.bytes.end());
    return Read::Ok;
}

// What the folder holds for these chips, file by file.
Files render(EepromSocketChip* eeprom, AvrSocketChip* avr)
{
    Files files;
    ChipKeys keys;
    auto add = [&files](std::vector<ChipMemoryFile> memories) {
        for (const ChipMemoryFile& m : memories)
            files[m.file].assign(m.memory->begin(), m.memory->end());
    };
    if (eeprom) {
        eeprom->describe(keys);
        add(eeprom->memoryFiles());
    }
    if (avr) {
        avr->describe(keys);
        add(avr->memoryFiles());
    }
    files[kBoardFile] = BoardIniText(keys);
    return files;
}

// The chips board.ini describes, with the keys it sets; messages name the line.
bool makeChips(const BoardIni& ini, const std::string& where,
               std::unique_ptr<EepromSocketChip>& eeprom, std::unique_ptr<AvrSocketChip>& avr,
               std::string& error)
{
    std::string why;
    auto fail = [&](int line, const std::string& message) {
        error = where + ", line " + std::to_string(line) + ": " + message;
        return false;
    };
    const auto end = ini.keys.end();
    const auto a = ini.keys.find("avr");
    const auto s = ini.keys.find("avr.signature");
    if (const auto e = ini.keys.find("eeprom"); e != end) {
        SerialEeprom chip = MakeSerialEeprom(e->second.value, why);
        if (!chip)
            return fail(e->second.line, why);
        eeprom = std::move(chip.eepromSocket);
        for (const auto& [key, value] : ini.keys) {
            if (key.rfind("eeprom.", 0) != 0)
                continue;
            if (!chip.avrSocket)
                return fail(value.line, key + " is not a key of the " + e->second.value);
            if (!chip.avrSocket->set(key, value.value, why))
                return fail(value.line, why);
        }
        // A 25xx or 93Cxx takes the AVR socket's lines: no AVR beside it.
        if (chip.avrSocket) {
            for (const auto& [key, value] : ini.keys)
                if (key.rfind("avr", 0) == 0)
                    return fail(value.line, "the " + e->second.value +
                                                " sits in the AVR socket, so " + key +
                                                " (a key of an AVR there) cannot stand beside it");
            avr = std::move(chip.avrSocket);
            return true;
        }
    }
    if (const auto f = ini.keys.find("flash"); f != end) {
        auto chip = MakeSpiFlashChip(f->second.value);
        if (!chip)
            return fail(f->second.line, "There is no SPI flash of part \"" + f->second.value +
                                            "\"; the parts are " + SpiFlashChip::typeNames());
        for (const auto& [key, value] : ini.keys) {
            if (key.rfind("flash.", 0) == 0 && !chip->set(key, value.value, why))
                return fail(value.line, why);
            // A flash chip takes the AVR socket's lines, as a 25xx does.
            if (key.rfind("avr", 0) == 0)
                return fail(value.line, "the " + f->second.value + " sits in the AVR socket, so " +
                                            key + " cannot stand beside it");
        }
        avr = std::move(chip);
        return true;
    }
    for (const auto& [key, value] : ini.keys)
        if (key.rfind("flash.", 0) == 0)
            return fail(value.line, key + " is a key of an SPI flash, but no flash key names one");
    if (a == end && s == end) {
        for (const auto& [key, value] : ini.keys)
            if (key.rfind("avr.", 0) == 0)
                return fail(value.line, key + " is a key of the chip in the AVR socket, but "
                                              "neither avr nor avr.signature names one");
        return true;
    }
    avr = MakeAvrChip(a != end ? a->second.value : std::string(),
                      s != end ? s->second.value : std::string(), why);
    if (!avr)
        return fail(s != end ? s->second.line : a->second.line, why);
    for (const auto& [key, value] : ini.keys)
        if (key.rfind("avr.", 0) == 0 && key != "avr.signature" && !avr->set(key, value.value, why))
            return fail(value.line, why);
    return true;
}

// Each file.NAME key must name a memory of a chip in the sockets and a plain file in the folder.
bool checkFileKeys(const BoardIni& ini, const std::string& where, EepromSocketChip* eeprom,
                   AvrSocketChip* avr, std::string& error)
{
    std::vector<std::string> memories;
    if (eeprom)
        for (const ChipMemoryFile& m : eeprom->memoryFiles())
            memories.push_back(m.file);
    if (avr)
        for (const ChipMemoryFile& m : avr->memoryFiles())
            memories.push_back(m.file);
    for (const auto& [key, value] : ini.keys) {
        if (key.rfind("file.", 0) != 0)
            continue;
        const std::string memory = key.substr(5);
        const std::string& name = value.value;
        std::string why;
        if (std::find(memories.begin(), memories.end(), memory) == memories.end())
            why = "no chip in the sockets keeps a memory in " + memory;
        else if (name.find('/') != std::string::npos || name == "." || name == ".." ||
                 name == kBoardFile)
            why = name + " is not the name of a chip file in the folder";
        if (!why.empty()) {
            error = where + ", line " + std::to_string(value.line) + ": " + why;
            return false;
        }
    }
    return true;
}

// N of memory-N.ext, the names a save gives the new contents of memory.ext (N from 1 up); 0 for
// any other name.
unsigned long versionOf(const std::string& name, const std::string& memory)
{
    const auto dot = memory.rfind('.');
    const std::string stem = memory.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : memory.substr(dot);
    if (name.size() <= stem.size() + 1 + ext.size() || name.compare(0, stem.size(), stem) != 0 ||
        name[stem.size()] != '-' || name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
        return 0;
    const std::string number =
        name.substr(stem.size() + 1, name.size() - ext.size() - stem.size() - 1);
    if (number.size() > 9 ||
        !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return std::stoul(number);
}

// The memories any chip of the board keeps, by their own names.
std::vector<std::string> allMemoryNames()
{
    std::vector<std::string> names;
    std::string why;
    if (auto eeprom = MakeEepromChip("24C256", why))
        for (const ChipMemoryFile& m : eeprom->memoryFiles())
            names.push_back(m.file);
    if (auto avr = MakeAvrChip("ATmega128", "", why))
        for (const ChipMemoryFile& m : avr->memoryFiles())
            names.push_back(m.file);
    if (auto flash = MakeSpiFlashChip("GD25Q16"))
        for (const ChipMemoryFile& m : flash->memoryFiles())
            names.push_back(m.file);
    return names;
}

// A file a save of this board writes: a memory under its own name or a version of it, board.ini,
// or a temporary of one of them that a stopped save left.
bool isBoardFile(const std::string& name, const std::vector<std::string>& memories)
{
    std::string base = name;
    if (const auto tmp = base.rfind(".tmp"); tmp != std::string::npos && tmp + 12 == base.size())
        base.resize(tmp);
    if (base == kBoardFile && base != name)
        return true;
    for (const std::string& memory : memories)
        if (base == memory || versionOf(base, memory) > 0)
            return true;
    return false;
}

// The name a memory is stored under: what board.ini's file.NAME says, or NAME itself in a folder
// written before board.ini named its files.
std::string storedName(const BoardIni& ini, const std::string& memory)
{
    const auto it = ini.keys.find("file." + memory);
    return it == ini.keys.end() ? memory : it->second.value;
}

// Fills each memory from its file, which must exist and have exactly the memory's size.
bool readMemories(const fs::path& dir, const BoardIni& ini, std::vector<ChipMemoryFile> memories,
                  std::map<std::string, std::string>& stored, std::string& error)
{
    for (const ChipMemoryFile& m : memories) {
        stored[m.file] = storedName(ini, m.file);
        const fs::path path = dir / stored[m.file];
        std::string content;
        const Read read = readWhole(path, content, error);
        if (read == Read::Missing)
            error = path.string() + " is missing; it keeps " + m.what;
        if (read != Read::Ok)
            return false;
        if (content.size() != m.memory->size()) {
            error = path.string() + " holds " + std::to_string(content.size()) + " bytes, but " +
                    m.what + " has " + std::to_string(m.memory->size());
            return false;
        }
        m.memory->assign(content.begin(), content.end());
    }
    return true;
}

std::string seconds(std::chrono::milliseconds wait)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(wait.count()) / 1000.0);
    return text;
}
} // namespace

std::string BoardFolder::defaultFolder()
{
    return (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/vardel/board"))
        .toStdString();
}

BoardFolder::BoardFolder(std::string dir) : dir_(std::move(dir)) {}

BoardFolder::~BoardFolder()
{
    release();
}

bool BoardFolder::claim(std::chrono::milliseconds wait, std::string& error)
{
    if (fd_ >= 0)
        return true;
    std::error_code created;
    fs::create_directories(dir_, created);
    std::error_code ec;
    if (!fs::is_directory(dir_, ec)) {
        error = "The simulated board's folder " + dir_ +
                " cannot be created: " + (created ? created : ec).message();
        return false;
    }
    // An exclusive flock on the folder itself: the folder's content stays as it is, and the
    // claim ends with the process however it ends.
    const int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error =
            "The simulated board's folder " + dir_ + " cannot be opened: " + std::strerror(errno);
        return false;
    }
    if (const int e = WaitForFlock(fd, wait)) {
        ::close(fd);
        error = e == EWOULDBLOCK ? "Another program is using the simulated board in " + dir_ +
                                       " (waited " + seconds(wait) + " s for it)"
                                 : "The simulated board's folder " + dir_ +
                                       " cannot be claimed: " + std::strerror(e);
        return false;
    }
    fd_ = fd;
    return true;
}

void BoardFolder::release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool BoardFolder::load(SimBoard& board, std::string& error)
{
    const fs::path dir(dir_);
    const fs::path iniPath = dir / kBoardFile;
    std::unique_ptr<EepromSocketChip> eeprom;
    std::unique_ptr<AvrSocketChip> avr;
    std::string text;
    const Read read = readWhole(iniPath, text, error);
    if (read == Read::Failed)
        return false;
    if (read == Read::Missing) {
        std::string why;
        eeprom = MakeEepromChip("24C256", why);
        avr = MakeAvrChip("ATmega128", "", why);
        if (!eeprom || !avr) {
            error = why;
            return false;
        }
        // Chip files without the file that says what they are: not a new board.
        std::vector<ChipMemoryFile> memories = eeprom->memoryFiles();
        for (const ChipMemoryFile& m : avr->memoryFiles())
            memories.push_back(m);
        for (const ChipMemoryFile& m : memories) {
            std::error_code ec;
            if (fs::exists(dir / m.file, ec)) {
                error = iniPath.string() + " is missing, but the folder holds " + m.file;
                return false;
            }
        }
        std::vector<std::uint8_t>& memory = *eeprom->memoryFiles().front().memory;
        std::copy_n(kGreeting, std::min(std::strlen(kGreeting), memory.size()), memory.begin());
        // Nothing of it is in the folder yet: the next save writes it all.
        files_.clear();
        stored_.clear();
    } else {
        const BoardIni ini = ParseBoardIni(text);
        if (!ini.ok()) {
            error = iniPath.string() + ", line " + std::to_string(ini.errorLine) + ": " + ini.error;
            return false;
        }
        std::map<std::string, std::string> stored;
        if (!makeChips(ini, iniPath.string(), eeprom, avr, error) ||
            !checkFileKeys(ini, iniPath.string(), eeprom.get(), avr.get(), error) ||
            (eeprom && !readMemories(dir, ini, eeprom->memoryFiles(), stored, error)) ||
            (avr && !readMemories(dir, ini, avr->memoryFiles(), stored, error)))
            return false;
        Files files = render(eeprom.get(), avr.get());
        stored_ = std::move(stored);
        // Unchanged since this process last loaded or saved it: the chips in the sockets stay,
        // with whatever state they have beyond their memories.
        if (files == files_)
            return true;
        files_ = std::move(files);
    }
    board.insertEeprom(std::move(eeprom));
    board.insertAvr(std::move(avr));
    return true;
}

bool BoardFolder::save(const SimBoard& board, std::string& error)
{
    const Files files = render(board.eeprom(), board.avr());
    if (files == files_)
        return true;
    const fs::path dir(dir_);
    const std::vector<std::string> memories = allMemoryNames();
    // What the folder holds now, for new names that no file has.
    std::vector<std::string> present;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        present.push_back(entry.path().filename().string());
    if (ec) {
        error = "Can't read the folder " + dir_ + ": " + ec.message();
        return false;
    }
    // The names board.ini gives now are taken whatever a listing shows.
    for (const auto& [memory, name] : stored_)
        present.push_back(name);

    // The changed memories under new names; the old files stay what board.ini names meanwhile.
    std::map<std::string, std::string> stored;
    std::vector<std::string> written;
    const auto undo = [&] {
        for (const std::string& name : written)
            fs::remove(dir / name, ec);
        return false;
    };
    ChipKeys keys;
    for (const auto& [name, content] : files) {
        if (name == kBoardFile)
            continue;
        const auto old = stored_.find(name);
        const auto before = files_.find(name);
        if (old != stored_.end() && before != files_.end() && before->second == content) {
            stored[name] = old->second;
        } else {
            unsigned long last = 0;
            for (const std::string& p : present)
                last = std::max(last, versionOf(p, name));
            const auto dot = name.rfind('.');
            const std::string fresh = name.substr(0, dot) + '-' + std::to_string(last + 1) +
                                      (dot == std::string::npos ? "" : name.substr(dot));
            const std::string path = (dir / fresh).string();
            if (killAfter_ == 0)
                ::raise(SIGKILL);
            if (!ReplaceFileAtomically(path, content)) {
                error = "Can't write " + path;
                return undo();
            }
            --killAfter_;
            written.push_back(fresh);
            stored[name] = fresh;
        }
        keys["file." + name] = stored[name];
    }
    // board.ini with the names of its files, in one rename: the save is done.
    const std::string ini = files.at(kBoardFile) + BoardIniText(keys);
    const std::string iniPath = (dir / kBoardFile).string();
    if (killAfter_ == 0)
        ::raise(SIGKILL);
    if (!ReplaceFileAtomically(iniPath, ini)) {
        error = "Can't write " + iniPath;
        return undo();
    }
    if (--killAfter_ == 0)
        ::raise(SIGKILL);
    files_ = files;
    stored_ = std::move(stored);
    // Older versions of the memories, those of chips taken out, and what stopped saves left.
    for (const std::string& name : present) {
        if (!isBoardFile(name, memories))
            continue;
        const bool named = std::any_of(stored_.begin(), stored_.end(),
                                       [&name](const auto& s) { return s.second == name; });
        if (!named)
            fs::remove(dir / name, ec);
    }
    return true;
}

} // namespace vardel::sim
