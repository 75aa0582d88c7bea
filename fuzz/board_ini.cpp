// Whatever board.ini holds, its parser gives either known keys with their lines or the first bad
// line, and the text the board would write for those keys parses back to the same keys.
#include "sim/board_ini.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const vardel::sim::BoardIni ini = vardel::sim::ParseBoardIni(text);
    if (!ini.ok()) {
        if (ini.errorLine < 1 || !ini.keys.empty())
            __builtin_trap();
        return 0;
    }
    vardel::sim::ChipKeys keys;
    for (const auto& [key, value] : ini.keys) {
        if (value.line < 1 || value.value.empty())
            __builtin_trap();
        keys[key] = value.value;
    }
    const vardel::sim::BoardIni again = vardel::sim::ParseBoardIni(vardel::sim::BoardIniText(keys));
    if (!again.ok() || again.keys.size() != keys.size())
        __builtin_trap();
    for (const auto& [key, value] : again.keys)
        if (keys.at(key) != value.value)
            __builtin_trap();
    return 0;
}
