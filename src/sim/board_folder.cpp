#include "sim/board_folder.h"

#include "files/binary_file.h"
#include "files/file_access.h"

#include "sim/chips.h"
#include "sim/sim_board.h"

#include <QDir>
#include <QStandardPaths>

#include <filesystem>

namespace vardel::sim {

namespace fs = std::filesystem;

namespace {
const char* kBoardFile = "board.ini";
// A few keys a socket; anything near this size is not a board file.
constexpr std::size_t kBoardFileLimit = 1 << 20;

} // namespace

ChipKeys BoardFolder::parseKeys(std::string_view text)
{
    ChipKeys keys;
    while (!text.empty()) {
        const auto feed = text.find('\n');
        std::string_view line = text.substr(0, feed);
        text = feed == std::string_view::npos ? std::string_view{} : text.substr(feed + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const auto eq = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string_view::npos)
            continue;
        keys[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    }
    return keys;
}

bool BoardFolder::chipsFromKeys(const ChipKeys& keys, std::unique_ptr<EepromSocketChip>& eeprom,
                                std::unique_ptr<AvrSocketChip>& avr, std::string& error)
{
    if (const auto e = keys.find("eeprom"); e != keys.end()) {
        eeprom = MakeEepromChip(e->second, error);
        if (!eeprom) {
            error = "the simulated EEPROM cannot be used: " + error;
            return false;
        }
    }
    const auto a = keys.find("avr");
    const auto s = keys.find("avr.signature");
    if (a == keys.end() && s == keys.end())
        return true;
    avr = MakeAvrChip(a != keys.end() ? a->second : std::string(),
                      s != keys.end() ? s->second : std::string(), error);
    if (!avr) {
        error = "the simulated AVR chip cannot be used: " + error;
        return false;
    }
    for (const auto& [key, value] : keys) {
        if (key.rfind("avr.", 0) == 0 && key != "avr.signature" && !avr->set(key, value, error)) {
            error = "the simulated AVR chip cannot be used: " + error;
            return false;
        }
    }
    return true;
}

std::string BoardFolder::defaultFolder()
{
    return (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/vardel/board"))
        .toStdString();
}

bool BoardFolder::load(const std::string& dir, SimBoard& board, std::string& error)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) {
        error = "The simulated board's folder " + dir + " cannot be created: " + ec.message();
        return false;
    }
    board.folder = dir;
    const FileBytes file = ReadWholeFile((fs::path(dir) / kBoardFile).string(), kBoardFileLimit);
    if (file.failure == ReadFailure::CannotOpen && !fs::exists(fs::path(dir) / kBoardFile))
        return true; // a new board: both sockets empty
    if (!file.ok()) {
        error = "The simulated board's " + (fs::path(dir) / kBoardFile).string() + " " +
                ReadFailureReason(file.failure);
        return false;
    }
    const ChipKeys keys = parseKeys(
        std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()));
    std::unique_ptr<EepromSocketChip> eeprom;
    std::unique_ptr<AvrSocketChip> avr;
    if (!chipsFromKeys(keys, eeprom, avr, error)) {
        error = "In " + dir + ", " + error;
        return false;
    }
    if (eeprom) {
        if (!eeprom->load(dir, error)) {
            error = "The simulated EEPROM in " + dir + " cannot be used: " + error;
            return false;
        }
        board.insertEeprom(std::move(eeprom));
    }
    if (avr) {
        if (!avr->load(dir, error)) {
            error = "The simulated AVR chip in " + dir + " cannot be used: " + error;
            return false;
        }
        board.insertAvr(std::move(avr));
    }
    return true;
}

bool BoardFolder::save(const std::string& dir, const SimBoard& board, std::string& error)
{
    ChipKeys keys;
    if (board.eeprom()) {
        board.eeprom()->describe(keys);
        if (!board.eeprom()->save(dir, error))
            return false;
    }
    if (board.avr()) {
        board.avr()->describe(keys);
        if (!board.avr()->save(dir, error))
            return false;
    }
    std::string content;
    for (const auto& [key, value] : keys)
        content += key + '=' + value + '\n';
    const std::string file = (fs::path(dir) / kBoardFile).string();
    if (!ReplaceFileAtomically(file, content)) {
        error = "Can't write " + file;
        return false;
    }
    return true;
}

} // namespace vardel::sim
