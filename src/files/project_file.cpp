#include "files/project_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace vardel {

namespace {

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A '#' at the start of a line, after a blank or right after the '=' starts a comment; one inside
// a word (a file name) does not.
std::string_view WithoutComment(std::string_view line)
{
    for (std::size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' &&
            (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t' || line[i - 1] == '='))
            return line.substr(0, i);
    return line;
}

// A decimal number, or a hexadecimal one after 0x.
std::optional<std::uint64_t> Number(std::string_view s)
{
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.size() > 20)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : s) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
            digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (digit < 0)
            return std::nullopt;
        if (value > (UINT64_MAX - static_cast<std::uint64_t>(digit)) / base)
            return std::nullopt;
        value = value * base + static_cast<std::uint64_t>(digit);
    }
    return value;
}

// A fuse byte: one or two hex digits, with or without 0x.
std::optional<std::uint8_t> HexByte(std::string_view s)
{
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s.remove_prefix(2);
    if (s.empty() || s.size() > 2)
        return std::nullopt;
    const auto value = Number("0x" + std::string(s));
    if (!value)
        return std::nullopt;
    return static_cast<std::uint8_t>(*value);
}

constexpr const char* kKeys[] = {"socket",
                                 "part",
                                 "flash",
                                 "eeprom",
                                 "fuses",
                                 "fuse.low",
                                 "fuse.high",
                                 "fuse.extended",
                                 "lock",
                                 "allow-lockout",
                                 "serial.memory",
                                 "serial.address",
                                 "serial.length",
                                 "serial.format",
                                 "serial.width",
                                 "serial.next",
                                 "serial.step",
                                 "log",
                                 "blank-only",
                                 "calibration.memory",
                                 "calibration.address"};

constexpr const char* kFormats[] = {"little-endian", "big-endian", "ascii", "bcd"};

std::string LineError(int line, const std::string& what)
{
    return "line " + std::to_string(line) + ": " + what;
}

} // namespace

std::optional<std::vector<NamedBit>> ParseNamedBits(std::string_view words)
{
    std::vector<NamedBit> bits;
    while (true) {
        words = Trim(words);
        if (words.empty())
            break;
        const std::size_t end = words.find_first_of(" \t");
        const std::string_view word = words.substr(0, end);
        words = end == std::string_view::npos ? std::string_view() : words.substr(end);
        const std::size_t eq = word.find('=');
        if (eq == 0 || eq == std::string_view::npos || eq + 2 != word.size() ||
            (word[eq + 1] != '0' && word[eq + 1] != '1'))
            return std::nullopt;
        bits.emplace_back(std::string(word.substr(0, eq)), word[eq + 1] == '0');
    }
    return bits;
}

ProjectParse ParseProject(std::span<const std::uint8_t> bytes)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    ProjectParse result;
    Project& p = result.project;
    std::map<std::string, std::pair<std::string, int>, std::less<>> keys;
    auto fail = [&result](int line, const std::string& what) {
        result.project = Project{};
        result.error = LineError(line, what);
        return result;
    };
    int lineNumber = 0;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        ++lineNumber;
        const std::string_view raw = text.substr(start, end - start);
        start = end + 1;
        if (raw.find('\0') != std::string_view::npos)
            return fail(lineNumber, "a NUL byte: this is not a project file");
        const std::string_view line = Trim(WithoutComment(raw));
        if (line.empty())
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return fail(lineNumber, "expected key = value");
        const std::string key(Trim(line.substr(0, eq)));
        const std::string value(Trim(line.substr(eq + 1)));
        if (std::find_if(std::begin(kKeys), std::end(kKeys),
                         [&key](const char* k) { return key == k; }) == std::end(kKeys))
            return fail(lineNumber, "unknown key '" + key + "'");
        if (keys.count(key))
            return fail(lineNumber, "'" + key + "' is given a second time (first on line " +
                                        std::to_string(keys[key].second) + ")");
        if (value.empty())
            return fail(lineNumber, "'" + key + "' has no value");
        keys[key] = {value, lineNumber};
    }

    auto has = [&keys](const char* key) {
        return keys.count(key) > 0;
    };
    auto value = [&keys](const char* key) -> const std::string& {
        return keys.find(key)->second.first;
    };
    auto line = [&keys](const char* key) {
        return keys.find(key)->second.second;
    };

    if (!has("socket"))
        return fail(lineNumber, "the project names no socket (socket = avr, socket = eeprom or "
                                "socket = spi-flash)");
    if (value("socket") == "avr")
        p.socket = ProjectSocket::Avr;
    else if (value("socket") == "eeprom")
        p.socket = ProjectSocket::Eeprom;
    else if (value("socket") == "spi-flash")
        p.socket = ProjectSocket::SpiFlash;
    else
        return fail(line("socket"),
                    "socket is avr, eeprom or spi-flash, not '" + value("socket") + "'");
    if (!has("part"))
        return fail(lineNumber, "the project names no part");
    p.part = value("part");
    for (const auto& [key, entry] : keys)
        p.lines[key] = entry.second;
    if (has("flash"))
        p.flash = value("flash");
    if (has("eeprom"))
        p.eeprom = value("eeprom");
    if (has("log"))
        p.log = value("log");
    const bool eepromSocket = p.socket == ProjectSocket::Eeprom;
    for (const char* avrOnly : {"flash", "fuses", "fuse.low", "fuse.high", "fuse.extended", "lock",
                                "allow-lockout", "calibration.memory", "calibration.address"})
        if (eepromSocket && has(avrOnly))
            return fail(line(avrOnly), std::string("an EEPROM socket has no ") + avrOnly);
    if (eepromSocket && !has("eeprom"))
        return fail(lineNumber, "an EEPROM project needs its image (eeprom = FILE)");
    // An SPI flash has its image alone: none of an AVR's bits, no second memory.
    const bool flashSocket = p.socket == ProjectSocket::SpiFlash;
    for (const char* avrOnly : {"eeprom", "fuses", "fuse.low", "fuse.high", "fuse.extended", "lock",
                                "allow-lockout", "calibration.memory", "calibration.address"})
        if (flashSocket && has(avrOnly))
            return fail(line(avrOnly), std::string("an SPI flash socket has no ") + avrOnly);
    if (flashSocket && !has("flash"))
        return fail(lineNumber, "an SPI flash project needs its image (flash = FILE)");

    if (has("fuses")) {
        for (const char* byteKey : {"fuse.low", "fuse.high", "fuse.extended"})
            if (has(byteKey))
                return fail(line(byteKey), std::string(byteKey) +
                                               " and fuses cannot both be given (fuses on line " +
                                               std::to_string(line("fuses")) + ")");
        const auto bits = ParseNamedBits(value("fuses"));
        if (!bits)
            return fail(line("fuses"), "fuses takes NAME=0 or NAME=1 words, as CKDIV8=1 SUT0=0");
        p.fuseBits = *bits;
    }
    const char* byteKeys[] = {"fuse.low", "fuse.high", "fuse.extended"};
    for (int i = 0; i < 3; ++i) {
        if (!has(byteKeys[i]))
            continue;
        p.fuseBytes[i] = HexByte(value(byteKeys[i]));
        if (!p.fuseBytes[i])
            return fail(line(byteKeys[i]), std::string(byteKeys[i]) +
                                               " takes a byte in hex (E2), not '" +
                                               value(byteKeys[i]) + "'");
    }
    if (has("lock")) {
        const auto bits = ParseNamedBits(value("lock"));
        if (!bits)
            return fail(line("lock"), "lock takes NAME=0 or NAME=1 words, as LB1=0 LB2=0");
        p.lockBits = *bits;
    }
    if (has("allow-lockout")) {
        if (value("allow-lockout") != "yes" && value("allow-lockout") != "no")
            return fail(line("allow-lockout"), "allow-lockout is yes or no");
        p.allowLockout = value("allow-lockout") == "yes";
    }
    if (has("blank-only")) {
        if (value("blank-only") != "yes" && value("blank-only") != "no")
            return fail(line("blank-only"), "blank-only is yes or no");
        p.blankOnly = value("blank-only") == "yes";
    }
    if (has("calibration.memory") || has("calibration.address")) {
        for (const char* k : {"calibration.memory", "calibration.address"})
            if (!has(k))
                return fail(lineNumber, std::string("a calibration byte's place needs ") + k);
        Project::CalibrationPlace place;
        place.inFlash = value("calibration.memory") == "flash";
        if (!place.inFlash && value("calibration.memory") != "eeprom")
            return fail(line("calibration.memory"), "calibration.memory is flash or eeprom");
        const auto address = Number(value("calibration.address"));
        if (!address || *address > 0xFFFFFFFFu)
            return fail(line("calibration.address"),
                        "calibration.address takes an address (1023 or 0x3FF)");
        place.address = static_cast<std::uint32_t>(*address);
        p.calibration = place;
    }

    bool anySerial = false;
    for (const char* k : {"serial.memory", "serial.address", "serial.length", "serial.format",
                          "serial.width", "serial.next", "serial.step"})
        anySerial = anySerial || has(k);
    if (!anySerial)
        return result;
    for (const char* k :
         {"serial.memory", "serial.address", "serial.length", "serial.format", "serial.next"})
        if (!has(k))
            return fail(lineNumber, std::string("a serial number rule needs ") + k);
    SerialRule rule;
    if (value("serial.memory") == "flash" && !eepromSocket)
        rule.inFlash = true;
    else if (value("serial.memory") != "eeprom" || flashSocket)
        return fail(line("serial.memory"),
                    eepromSocket  ? "serial.memory is eeprom on an EEPROM socket"
                    : flashSocket ? "serial.memory is flash on an SPI flash socket"
                                  : "serial.memory is flash or eeprom");
    const auto address = Number(value("serial.address"));
    if (!address || *address > 0xFFFFFFFF)
        return fail(line("serial.address"), "serial.address takes an address (1024 or 0x400)");
    rule.address = static_cast<std::uint32_t>(*address);
    const auto length = Number(value("serial.length"));
    if (!length || *length < 1 || *length > 8)
        return fail(line("serial.length"), "serial.length is 1 to 8 bytes");
    rule.length = static_cast<int>(*length);
    const auto format = std::find(std::begin(kFormats), std::end(kFormats), value("serial.format"));
    if (format == std::end(kFormats))
        return fail(line("serial.format"),
                    "serial.format is little-endian, big-endian, ascii or bcd");
    rule.format = static_cast<SerialFormat>(format - std::begin(kFormats));
    if (has("serial.width")) {
        if (rule.format != SerialFormat::Ascii)
            return fail(line("serial.width"), "serial.width is for the ascii format only");
        const auto width = Number(value("serial.width"));
        if (!width || *width < 1 || *width > static_cast<std::uint64_t>(rule.length))
            return fail(line("serial.width"),
                        "serial.width is 1 to serial.length (" + std::to_string(rule.length) + ")");
        rule.width = static_cast<int>(*width);
    }
    const auto next = Number(value("serial.next"));
    if (!next)
        return fail(line("serial.next"), "serial.next takes a number");
    rule.next = *next;
    if (has("serial.step")) {
        const auto step = Number(value("serial.step"));
        if (!step || *step == 0)
            return fail(line("serial.step"), "serial.step takes a number from 1 up");
        rule.step = *step;
    }
    p.serial = rule;
    return result;
}

namespace {
std::string BitsText(const std::vector<NamedBit>& bits)
{
    std::string text;
    for (const auto& [name, programmed] : bits)
        text += (text.empty() ? "" : " ") + name + (programmed ? "=0" : "=1");
    return text;
}

std::string HexText(std::uint8_t byte)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}
} // namespace

std::string ProjectText(const Project& p)
{
    std::string text;
    auto put = [&text](const char* key, const std::string& value) {
        if (!value.empty())
            text += std::string(key) + " = " + value + "\n";
    };
    put("socket", p.socket == ProjectSocket::Avr      ? "avr"
                  : p.socket == ProjectSocket::Eeprom ? "eeprom"
                                                      : "spi-flash");
    put("part", p.part);
    put("flash", p.flash);
    put("eeprom", p.eeprom);
    put("fuses", BitsText(p.fuseBits));
    const char* byteKeys[] = {"fuse.low", "fuse.high", "fuse.extended"};
    for (int i = 0; i < 3; ++i)
        if (p.fuseBytes[i])
            put(byteKeys[i], HexText(*p.fuseBytes[i]));
    put("lock", BitsText(p.lockBits));
    if (p.allowLockout)
        put("allow-lockout", "yes");
    if (p.blankOnly)
        put("blank-only", "yes");
    if (const auto& s = p.serial) {
        put("serial.memory", s->inFlash ? "flash" : "eeprom");
        put(
            "serial.address", "0x" + [&] {
                char t[16];
                std::snprintf(t, sizeof t, "%X", static_cast<unsigned>(s->address));
                return std::string(t);
            }());
        put("serial.length", std::to_string(s->length));
        put("serial.format", kFormats[static_cast<int>(s->format)]);
        if (s->width)
            put("serial.width", std::to_string(s->width));
        put("serial.next", std::to_string(s->next));
        put("serial.step", std::to_string(s->step));
    }
    if (const auto& c = p.calibration) {
        put("calibration.memory", c->inFlash ? "flash" : "eeprom");
        char address[16];
        std::snprintf(address, sizeof address, "0x%X", static_cast<unsigned>(c->address));
        put("calibration.address", address);
    }
    put("log", p.log);
    return text;
}

std::string WithNextSerial(std::string_view text, std::uint64_t next)
{
    std::string out;
    bool replaced = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::string_view content = WithoutComment(line);
        const std::size_t eq = content.find('=');
        if (!replaced && eq != std::string_view::npos &&
            Trim(content.substr(0, eq)) == "serial.next") {
            // The number is replaced where it stood; blanks, a comment and the line end stay.
            std::size_t valueStart = eq + 1;
            while (valueStart < content.size() &&
                   (content[valueStart] == ' ' || content[valueStart] == '\t'))
                ++valueStart;
            const std::string_view valueAndAfter = line.substr(valueStart);
            std::size_t valueEnd = 0;
            while (valueEnd < valueAndAfter.size() &&
                   std::isalnum(static_cast<unsigned char>(valueAndAfter[valueEnd])))
                ++valueEnd;
            out += std::string(line.substr(0, valueStart)) + std::to_string(next) +
                   std::string(valueAndAfter.substr(valueEnd));
            replaced = true;
        } else {
            out += line;
        }
        if (!last)
            out += '\n';
    }
    if (!replaced) {
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out += "serial.next = " + std::to_string(next) + "\n";
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> SerialBytes(const SerialRule& rule, std::uint64_t value,
                                                     std::string* error)
{
    const auto n = static_cast<std::size_t>(rule.length);
    std::vector<std::uint8_t> bytes(n, 0);
    auto refuse = [&](const std::string& limit) -> std::optional<std::vector<std::uint8_t>> {
        if (error)
            *error = "the serial number " + std::to_string(value) + " does not fit in " + limit;
        return std::nullopt;
    };
    switch (rule.format) {
    case SerialFormat::LittleEndian:
    case SerialFormat::BigEndian: {
        if (n < 8 && value >> (8 * n))
            return refuse(std::to_string(n) + (n == 1 ? " byte" : " bytes"));
        for (std::size_t i = 0; i < n; ++i) {
            const auto byte = static_cast<std::uint8_t>(value >> (8 * i));
            bytes[rule.format == SerialFormat::LittleEndian ? i : n - 1 - i] = byte;
        }
        return bytes;
    }
    case SerialFormat::Ascii: {
        const auto width = static_cast<std::size_t>(rule.width ? rule.width : rule.length);
        const std::string digits = std::to_string(value);
        if (digits.size() > width)
            return refuse(std::to_string(width) + " decimal digits");
        const std::string text = std::string(width - digits.size(), '0') + digits;
        std::copy(text.begin(), text.end(), bytes.begin());
        return bytes;
    }
    case SerialFormat::Bcd: {
        std::uint64_t rest = value;
        for (std::size_t i = 0; i < n; ++i) {
            const auto low = static_cast<std::uint8_t>(rest % 10);
            rest /= 10;
            const auto high = static_cast<std::uint8_t>(rest % 10);
            rest /= 10;
            bytes[n - 1 - i] = static_cast<std::uint8_t>(high << 4 | low);
        }
        if (rest)
            return refuse(std::to_string(2 * n) + " BCD digits");
        return bytes;
    }
    }
    return std::nullopt;
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes)
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace vardel
