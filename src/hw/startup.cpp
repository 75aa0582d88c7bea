#include "hw/startup.h"

#include "hw/bit_timing.h"
#include "hw/line_driver.h"
#include "hw/settings.h"

namespace vardel {

DialogFolders StartUp(Settings& settings, BitTiming& timing)
{
    DialogFolders folders;
    folders.open = settings.ReadString("OPEN_DIR", ".");
    folders.save = settings.ReadString("SAVE_DIR", ".");
    timing.Calibrate(settings);
    settings.Sync();
    return folders;
}

void ShutDown(LineDriver& lines, Settings& settings, int delayFactor, const std::string& openName,
              const std::string& saveName)
{
    // A port that has failed takes nothing more; the settings are saved all the same.
    try {
        lines.SetI2CLines(0, 0, 0);
    } catch (const PortError&) {
    }
    settings.WriteInteger("RETARDO", delayFactor);
    settings.WriteString("OPEN_DIR", openName);
    settings.WriteString("SAVE_DIR", saveName);
    settings.Sync();
}

} // namespace vardel
