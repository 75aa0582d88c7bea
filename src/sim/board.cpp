#include "sim/board.h"

#include "hw/file_names.h"
#include "hw/gpio_port.h"
#include "hw/parallel_ports.h"
#include "hw/port_spec.h"
#include "sim/board_folder.h"
#include "sim/line_trace.h"
#include "sim/sim_board.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cstdio>

namespace vardel::sim {

namespace {
const char* kDefaultDevice = "/dev/parport0";

// A real port with the line trace: the lines as written and the inputs as read.
class TracedPort final : public PortIo {
public:
    TracedPort(PortIo& inner, LineTrace& trace, Clock& clock)
        : inner_(inner), trace_(trace), clock_(clock)
    {
    }
    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override
    {
        inner_.DlPortWritePortUchar(port, value);
        if (port == LptDataPort) {
            outputs_ = LineTrace::outputsOf(value);
            trace_.record(clock_.nanoseconds(), outputs_ | inputs_);
        }
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
    {
        const std::uint8_t v = inner_.DlPortReadPortUchar(port);
        if (port == LptStatusPort) {
            // The SDA input replaces the written SDA level in the trace, as the bus shows it.
            inputs_ = (v & 0x40) ? LineTrace::Miso : 0;
            const std::uint8_t sda = (v & 0x80) ? 0 : LineTrace::Sda;
            trace_.record(clock_.nanoseconds(),
                          static_cast<std::uint8_t>((outputs_ & ~LineTrace::Sda) | sda | inputs_));
        }
        return v;
    }
    std::string describe() const override { return inner_.describe(); }
    bool claim(std::string& error) override { return inner_.claim(error); }
    void release() override { inner_.release(); }
    void leaveLinesAtClose() override { inner_.leaveLinesAtClose(); }
    bool keepsLinesWhenLetGo() const override { return inner_.keepsLinesWhenLetGo(); }
    bool parallelPortLevels() const override { return inner_.parallelPortLevels(); }

private:
    PortIo& inner_;
    LineTrace& trace_;
    Clock& clock_;
    std::uint8_t outputs_ = 0;
    std::uint8_t inputs_ = 0;
};

} // namespace

void AddBoardOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("ppdev[:DEVICE], direct[:ADDRESS], gpio:CHIP[:MAP] or "
                                     "sim[:DIR] (default: ppdev on /dev/parport0 when it exists, "
                                     "else the simulated board)."),
                      QStringLiteral("PORT")});
    parser.addOption({QStringLiteral("virtual-time"),
                      QStringLiteral("Run on the virtual clock (simulated board).")});
    parser.addOption({QStringLiteral("trace"),
                      QStringLiteral("Record every line change as a VCD file."),
                      QStringLiteral("FILE")});
    QCommandLineOption fault(QStringLiteral("sim-port-fails-after"),
                             QStringLiteral("The simulated board's port stops answering after N "
                                            "accesses (N:reads: only the status reads fail)."),
                             QStringLiteral("N"));
    fault.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(fault);
    QCommandLineOption kill(QStringLiteral("sim-save-killed-after"),
                            QStringLiteral("The simulated board's save is killed (SIGKILL) after "
                                           "it has written N files."),
                            QStringLiteral("N"));
    kill.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(kill);
}

BoardOptions BoardOptionsFrom(const QCommandLineParser& parser)
{
    BoardOptions options;
    options.port = FileNameFromQString(parser.value(QStringLiteral("port")));
    options.virtualTime = parser.isSet(QStringLiteral("virtual-time"));
    options.traceFile = FileNameFromQString(parser.value(QStringLiteral("trace")));
    options.simPortFault = parser.value(QStringLiteral("sim-port-fails-after")).toStdString();
    options.simSaveKill = parser.value(QStringLiteral("sim-save-killed-after")).toStdString();
    return options;
}

std::string CheckBoardOptions(const BoardOptions& options, PortChoice& choice)
{
    choice = PortChoice{};
    Kernel& kernel = options.kernel ? *options.kernel : SystemKernel();
    std::string kind = options.port;
    if (kind.empty()) {
        kind = kernel.exists(kDefaultDevice) ? "ppdev" : "sim";
    } else {
        const PortSpec named = SplitPortSpec(kind);
        kind = named.kind;
        choice.arg = named.argument;
    }
    if (kind != "ppdev" && kind != "direct" && kind != "gpio" && kind != "sim")
        return "Unknown port '" + options.port +
               "': use ppdev[:DEVICE], direct[:ADDRESS], gpio:CHIP[:MAP] or sim[:DIR].";
    choice.kind = kind;
    choice.address = LptDataPort;
    if (kind == "direct" && !choice.arg.empty()) {
        const auto address = ParsePortAddress(choice.arg);
        if (!address)
            return "Invalid port address '" + choice.arg + "' (for example direct:0x378).";
        choice.address = *address;
    }
    // An address of another device of the machine, a GPIO map that is not one. A gpio: port
    // without a map may still take the settings' map, which the program adds before it opens.
    if (const std::string usage = PortSpecUsageError(options.port, kernel, kParportProc,
                                                     options.gpioMap, !options.gpioMap.empty());
        !usage.empty())
        return usage;
    // The virtual clock's waits take no time: a real chip would get none of its write times.
    // (A double of the kernel in tests stands for no chip of its own.)
    if (options.virtualTime && kind != "sim" && !options.kernel)
        return "--virtual-time is for the simulated board (--port sim); a real chip needs the "
               "real clock's waits";
    if (!options.simPortFault.empty()) {
        if (kind != "sim")
            return "--sim-port-fails-after is a fault of the simulated board (--port sim).";
        std::string count = options.simPortFault;
        choice.faultReadsOnly = count.size() > 6 && count.substr(count.size() - 6) == ":reads";
        if (choice.faultReadsOnly)
            count.resize(count.size() - 6);
        try {
            std::size_t used = 0;
            choice.faultAfter = std::stol(count, &used);
            if (used != count.size())
                choice.faultAfter = -1;
        } catch (...) {
            choice.faultAfter = -1;
        }
        if (choice.faultAfter < 0)
            return "Invalid --sim-port-fails-after '" + options.simPortFault +
                   "' (for example 5000 or 5000:reads).";
    }
    if (!options.simSaveKill.empty()) {
        if (kind != "sim")
            return "--sim-save-killed-after is a fault of the simulated board (--port sim).";
        const std::string& count = options.simSaveKill;
        if (count.size() > 4 ||
            !std::all_of(count.begin(), count.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return "Invalid --sim-save-killed-after '" + count + "' (for example 2).";
        choice.saveKillAfter = std::stol(count);
    }
    return {};
}

std::unique_ptr<Board> Board::open(const BoardOptions& options, std::string& error)
{
    PortChoice choice;
    error = CheckBoardOptions(options, choice);
    if (!error.empty())
        return nullptr;
    std::unique_ptr<Board> board(new Board);
    if (options.virtualTime)
        board->clock_ = std::make_unique<VirtualClock>();
    else
        board->clock_ = std::make_unique<RealClock>();

    Kernel& kernel = options.kernel ? *options.kernel : SystemKernel();
    RealPortContext real{kernel, *board->clock_, options.notice};
    if (!real.notice)
        real.notice = [](const std::string& text) {
            std::fprintf(stderr, "%s\n", text.c_str());
        };

    const std::string& arg = choice.arg;
    if (choice.kind == "ppdev") {
        const std::string device = arg.empty() ? kDefaultDevice : arg;
        board->backend_ = PpdevPort::open(device, real, error);
    } else if (choice.kind == "direct") {
        board->backend_ = DirectPort::open(choice.address, real, error);
    } else if (choice.kind == "gpio") {
        const GpioSpec gpio = SplitGpioSpec(arg, options.gpioMap);
        const auto map = ParseGpioMap(gpio.map, error);
        if (!map) {
            error = "No usable GPIO map for " + gpio.chip + " (" + error +
                    "): give it as gpio:CHIP:MAP or set it in the configuration dialog.";
            return nullptr;
        }
        board->backend_ = GpioPort::open(gpio.chip, *map, real, error);
    } else {
        auto sim = std::make_unique<SimBoard>(*board->clock_);
        if (!options.virtualTime)
            sim->setAccessTime(VirtualClock::kPortAccessNs);
        board->folder_ =
            std::make_unique<BoardFolder>(arg.empty() ? BoardFolder::defaultFolder() : arg);
        board->folderWait_ = options.folderWait;
        board->folder_->killAfterWrites(choice.saveKillAfter);
        if (!board->folder_->claim(options.folderWait, error) || !board->folder_->load(*sim, error))
            return nullptr;
        if (choice.faultAfter >= 0)
            sim->stopAnsweringAfter(choice.faultAfter, choice.faultReadsOnly);
        board->sim_ = sim.get();
        board->backend_ = std::move(sim);
    }
    if (!board->backend_)
        return nullptr;
    board->port_ = board->backend_.get();

    if (!options.traceFile.empty()) {
        board->trace_.reset(LineTrace::create(options.traceFile, error));
        if (!board->trace_)
            return nullptr;
        if (board->sim_) {
            board->sim_->setTrace(board->trace_.get());
        } else {
            board->tracer_ =
                std::make_unique<TracedPort>(*board->backend_, *board->trace_, *board->clock_);
            board->port_ = board->tracer_.get();
        }
    }
    return board;
}

Board::~Board()
{
    if (sim_)
        sim_->setTrace(nullptr);
    tracer_.reset();
    backend_.reset();
    trace_.reset();
}

bool Board::finishTrace(std::string& error)
{
    return !trace_ || trace_->finish(error);
}

std::string Board::describe() const
{
    return port_->describe();
}

bool Board::claim(std::string& error)
{
    if (!folder_)
        return port_->claim(error);
    if (!folder_->claim(folderWait_, error))
        return false;
    if (!folder_->load(*sim_, error)) {
        folder_->release();
        return false;
    }
    return true;
}

bool Board::release(std::string& error)
{
    if (!folder_) {
        port_->release();
        return true;
    }
    if (!folder_->claimed())
        return true;
    const bool saved = folder_->save(*sim_, error);
    folder_->release();
    return saved;
}

} // namespace vardel::sim
