#include "sim/board_folder.h"

#include "files/binary_file.h"

#include "sim/chips.h"
#include "sim/sim_board.h"

#include <QDir>
#include <QStandardPaths>

#include <filesystem>
#include <fstream>

namespace vardel::sim {

namespace fs = std::filesystem;

namespace {
const char* kBoardFile = "board.ini";

bool readKeys(const fs::path& file, ChipKeys& keys)
{
    std::ifstream in(file);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto eq = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos)
            continue;
        keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return true;
}
} // namespace

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
    ChipKeys keys;
    if (!readKeys(fs::path(dir) / kBoardFile, keys))
        return true; // a new board: both sockets empty
    if (const auto e = keys.find("eeprom"); e != keys.end()) {
        auto chip = MakeEepromChip(e->second, error);
        if (!chip || !chip->load(dir, error)) {
            error = "The simulated EEPROM in " + dir + " cannot be used: " + error;
            return false;
        }
        board.insertEeprom(std::move(chip));
    }
    const auto a = keys.find("avr");
    const auto s = keys.find("avr.signature");
    if (a != keys.end() || s != keys.end()) {
        auto chip = MakeAvrChip(a != keys.end() ? a->second : std::string(),
                                s != keys.end() ? s->second : std::string(), error);
        if (!chip) {
            error = "The simulated AVR chip in " + dir + " cannot be used: " + error;
            return false;
        }
        for (const auto& [key, value] : keys) {
            if (key.rfind("avr.", 0) == 0 && key != "avr.signature" &&
                !chip->set(key, value, error)) {
                error = "The simulated AVR chip in " + dir + " cannot be used: " + error;
                return false;
            }
        }
        if (!chip->load(dir, error)) {
            error = "The simulated AVR chip in " + dir + " cannot be used: " + error;
            return false;
        }
        board.insertAvr(std::move(chip));
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
