#include "sim/board_folder.h"

#include "files/binary_file.h"
#include "files/file_access.h"

#include "sim/board_ini.h"
#include "sim/chips.h"
#include "sim/sim_board.h"

#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
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
    // Far more than the largest chip memory or any board.ini.
    constexpr std::size_t kLargestFile = std::size_t{16} << 20;
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

// Fills each memory from its file, which must exist and have exactly the memory's size.
bool readMemories(const fs::path& dir, std::vector<ChipMemoryFile> memories, std::string& error)
{
    for (const ChipMemoryFile& m : memories) {
        const fs::path path = dir / m.file;
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
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        if (e == EINTR)
            continue;
        if (e != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            error = e == EWOULDBLOCK ? "Another program is using the simulated board in " + dir_ +
                                           " (waited " + seconds(wait) + " s for it)"
                                     : "The simulated board's folder " + dir_ +
                                           " cannot be claimed: " + std::strerror(e);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
    } else {
        const BoardIni ini = ParseBoardIni(text);
        if (!ini.ok()) {
            error = iniPath.string() + ", line " + std::to_string(ini.errorLine) + ": " + ini.error;
            return false;
        }
        if (!makeChips(ini, iniPath.string(), eeprom, avr, error) ||
            (eeprom && !readMemories(dir, eeprom->memoryFiles(), error)) ||
            (avr && !readMemories(dir, avr->memoryFiles(), error)))
            return false;
        Files files = render(eeprom.get(), avr.get());
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
    // The memories first, then the file that says what they are.
    std::vector<std::string> order;
    for (const auto& [name, content] : files)
        if (name != kBoardFile)
            order.push_back(name);
    order.push_back(kBoardFile);
    for (const std::string& name : order) {
        const std::string& content = files.at(name);
        if (const auto it = files_.find(name); it != files_.end() && it->second == content)
            continue;
        const std::string path = (fs::path(dir_) / name).string();
        if (!ReplaceFileAtomically(path, content)) {
            error = "Can't write " + path;
            return false;
        }
        files_[name] = content;
    }
    // The files of chips taken out of their sockets.
    for (auto it = files_.begin(); it != files_.end();) {
        if (files.count(it->first)) {
            ++it;
            continue;
        }
        std::error_code ec;
        fs::remove(fs::path(dir_) / it->first, ec);
        it = files_.erase(it);
    }
    return true;
}

} // namespace vardel::sim
