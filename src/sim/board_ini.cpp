#include "sim/board_ini.h"

#include <algorithm>
#include <array>

namespace vardel::sim {

namespace {

constexpr std::array<std::string_view, 17> kKeys{
    "eeprom",        "avr",
    "avr.signature", "avr.fuse.low",
    "avr.fuse.high", "avr.fuse.extended",
    "avr.lock",      "avr.calibration",
    "avr.timing",    "avr.sck_lost",
    "eeprom.status", "eeprom.maker",
    "eeprom.eral",   "flash",
    "flash.status",  "flash.erased",
    "flash.id",
};

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r';
    };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A line as a message can show it: at most 40 characters, anything unprintable as '?'.
std::string shown(std::string_view line)
{
    std::string text;
    for (char c : line.substr(0, 40))
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    if (line.size() > 40)
        text += "...";
    return text;
}

std::string keyNames()
{
    std::string names = "file.NAME";
    for (std::string_view key : kKeys)
        names += (names.empty() ? "" : ", ") + std::string(key);
    return names;
}

BoardIni failed(int line, std::string error)
{
    BoardIni ini;
    ini.errorLine = line;
    ini.error = std::move(error);
    return ini;
}

} // namespace

BoardIni ParseBoardIni(std::string_view text)
{
    BoardIni ini;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        line = trimmed(line); // the CR of a CR LF too
        if (line.empty() || line.front() == '#')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos)
            return failed(number, "\"" + shown(line) + "\" is not key=value");
        const std::string_view key = trimmed(line.substr(0, eq));
        const std::string_view value = trimmed(line.substr(eq + 1));
        // file.NAME=STORED: the file that holds a chip's memory NAME (see BoardFolder).
        const bool fileKey = key.size() > 5 && key.substr(0, 5) == "file.";
        if (!fileKey && std::find(kKeys.begin(), kKeys.end(), key) == kKeys.end())
            return failed(number,
                          "there is no key \"" + shown(key) + "\"; the keys are " + keyNames());
        if (value.empty())
            return failed(number, std::string(key) + " has no value");
        if (const auto it = ini.keys.find(key); it != ini.keys.end())
            return failed(number, std::string(key) + " was already given on line " +
                                      std::to_string(it->second.line));
        ini.keys.emplace(std::string(key), BoardIniValue{std::string(value), number});
    }
    return ini;
}

std::string BoardIniText(const ChipKeys& keys)
{
    std::string text;
    for (const auto& [key, value] : keys)
        text += key + '=' + value + '\n';
    return text;
}

} // namespace vardel::sim
