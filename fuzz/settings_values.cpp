// Whatever the settings file holds, start-up reads it without failing and takes only integers as
// the delay factor.
#include "fuzz_file.h"
#include "hw/bit_timing.h"
#include "hw/clock.h"
#include "hw/settings.h"
#include "hw/startup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& file = FuzzFile(".ini");
    WriteFuzzFile(file, data, size);
    vardel::Settings settings(file);
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
