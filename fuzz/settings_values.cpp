// Whatever values the settings store holds, start-up reads them without failing and takes only
// integers as the delay factor. The input is read as NAME=value lines into a store in memory (the
// INI file syntax itself is QSettings' to parse).
#include "hw/bit_timing.h"
#include "hw/clock.h"
#include "hw/settings.h"
#include "hw/startup.h"

#include <map>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::map<std::string, std::string> values;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        const auto feed = text.find('\n');
        const std::string_view line = text.substr(0, feed);
        text = feed == std::string_view::npos ? std::string_view{} : text.substr(feed + 1);
        const auto eq = line.find('=');
        if (eq != std::string_view::npos)
            values[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    }
    vardel::Settings settings(std::move(values));
    vardel::VirtualClock clock;
    vardel::BitTiming timing(clock);
    const vardel::DialogFolders folders = vardel::StartUp(settings, timing);
    (void)folders;
    // The first pause clamps whatever was stored.
    timing.BitDelay();
    if (timing.DelayFactor < 1 || timing.DelayFactor > 200)
        __builtin_trap();
    (void)settings.ReadString("OPEN_DIR", ".");
    (void)settings.ReadInteger("RETARDO", 1);
    return 0;
}
