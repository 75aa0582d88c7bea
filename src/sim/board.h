#pragma once

#include "hw/clock.h"
#include "hw/kernel.h"
#include "hw/port_io.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QCommandLineParser;

namespace vardel::sim {

class BoardFolder;
class LineTrace;
class SimBoard;

struct BoardOptions {
    // "ppdev[:DEVICE]", "direct[:ADDRESS]", "gpio:CHIP[:MAP]", "sim[:DIR]", or empty: ppdev on
    // /dev/parport0 when it exists, else the simulated board.
    std::string port;
    // The GPIO map of the settings ("GPIO_MAP"), for gpio:CHIP without a map.
    std::string gpioMap;
    bool virtualTime = false;
    std::string traceFile;
    // How long to wait for another process to let go of the simulated board's folder.
    std::chrono::milliseconds folderWait{5000};
    // A fault of the simulated board's port, for tests: "N" stops every access after N accesses,
    // "N:reads" only the status reads.
    std::string simPortFault;
    // A save of the simulated board's folder stopped hard, for tests: the process is killed
    // (SIGKILL) once the save has written this many files. Empty: never.
    std::string simSaveKill;
    // The kernel behind a real port (tests put a double here); null: the machine's own.
    Kernel* kernel = nullptr;
    // Where a real port says that it waits for another holder; null: standard error.
    std::function<void(const std::string&)> notice;
};

// The options both programs take to choose their board: --port, --virtual-time, --trace.
void AddBoardOptions(QCommandLineParser& parser);
BoardOptions BoardOptionsFrom(const QCommandLineParser& parser);

// The board the options choose, worked out without touching a port, a folder or a file.
struct PortChoice {
    std::string kind; // "ppdev", "direct", "gpio" or "sim"
    std::string arg;  // the device, the address or the folder; empty for the default
    std::uint16_t address = 0;
    long faultAfter = -1; // --sim-port-fails-after: the accesses answered, -1 for ever
    bool faultReadsOnly = false;
    long saveKillAfter = -1; // --sim-save-killed-after: the files a save writes before SIGKILL
};

// Checks what the options say by itself (the kind of port, an address, the virtual clock only on
// the simulated board, the fault's count): an empty text when they can be used, else what is
// wrong with them.
std::string CheckBoardOptions(const BoardOptions& options, PortChoice& choice);

// The port backend a program works with, chosen once at start, with its clock and line trace.
class Board {
public:
    // Empty result and a message naming the device and the likely cause when the port cannot be
    // used; never a silent fallback to another board.
    static std::unique_ptr<Board> open(const BoardOptions& options, std::string& error);
    ~Board();

    PortIo& port() { return *port_; }
    Clock& clock() { return *clock_; }
    // The simulated board, or null on a real port.
    SimBoard* sim() { return sim_; }
    // "parallel port /dev/parport0", "simulated board (EEPROM socket: 24C04; AVR socket: empty)".
    std::string describe() const;
    // The simulated board's folder is claimed from open() until release(), which writes what
    // changed and lets the folder go; claim() takes it again and reloads it, so that changes
    // made meanwhile by another program count. A real port is claimed from the kernel the same
    // way (every line low at each claim) and released between chip operations.
    bool claim(std::string& error);
    bool release(std::string& error);
    // Ends the line trace, if any: false and a message when the trace file could not be written
    // whole. Lines changed afterwards are no longer recorded.
    bool finishTrace(std::string& error);
    // Closing the board leaves the lines as last set instead of driving them low.
    void leaveLinesAtClose() { port_->leaveLinesAtClose(); }
    bool keepsLinesWhenLetGo() const { return backend_->keepsLinesWhenLetGo(); }

private:
    Board() = default;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<LineTrace> trace_;
    std::unique_ptr<PortIo> backend_;
    std::unique_ptr<PortIo> tracer_;
    PortIo* port_ = nullptr;
    SimBoard* sim_ = nullptr;
    std::unique_ptr<BoardFolder> folder_;
    std::chrono::milliseconds folderWait_{0};
};

} // namespace vardel::sim
