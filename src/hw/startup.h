#pragma once

#include <string>

namespace vardel {

class BitTiming;
class LineDriver;
class Settings;

// The two shared file dialogs' initial folders, as the main window reads them at start.
struct DialogFolders {
    std::string open = ".";
    std::string save = ".";
};

// The settings steps of creating the main window, in their order: the dialogs' folders, then the
// calibration, which also loads DelayFactor. Nothing reaches the port.
DialogFolders StartUp(Settings& settings, BitTiming& timing);

// The steps of destroying the main window: every line low (the data register becomes 0x00), then
// "RETARDO", "OPEN_DIR" and "SAVE_DIR" saved.
void ShutDown(LineDriver& lines, Settings& settings, int delayFactor, const std::string& openName,
              const std::string& saveName);

// Initial file name of both dialogs, kept as the folder setting when a dialog was never used.
inline constexpr const char* kInitialDialogFileName = "*.hex";

} // namespace vardel
