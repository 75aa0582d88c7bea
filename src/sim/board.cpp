#include "sim/board.h"

#include "hw/file_names.h"
#include "hw/gpio_port.h"
#include "hw/parallel_ports.h"
#include "hw/port_spec.h"
#include "sim/board_folder.h"
#include "sim/line_trace.h"
#include "sim/sim_board.h"

#include <QCommandLineParser>

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
}

BoardOptions BoardOptionsFrom(const QCommandLineParser& parser)
{
    BoardOptions options;
    options.port = FileNameFromQString(parser.value(QStringLiteral("port")));
    options.virtualTime = parser.isSet(QStringLiteral("virtual-time"));
    options.traceFile = FileNameFromQString(parser.value(QStringLiteral("trace")));
    options.simPortFault = parser.value(QStringLiteral("sim-port-fails-after")).toStdString();
    return options;
}

std::unique_ptr<Board> Board::open(const BoardOptions& options, std::string& error)
{
    std::unique_ptr<Board> board(new Board);
    if (options.virtualTime)
        board->clock_ = std::make_unique<VirtualClock>();
    else
        board->clock_ = std::make_unique<RealClock>();

    Kernel& kernel = options.kernel ? *options.kernel : SystemKernel();
    std::string kind = options.port;
    std::string arg;
    if (kind.empty()) {
        kind = kernel.exists(kDefaultDevice) ? "ppdev" : "sim";
    } else {
        const PortSpec spec = SplitPortSpec(kind);
        kind = spec.kind;
        arg = spec.argument;
    }
    if (const std::string usage =
            PortSpecUsageError(options.port, kernel, kParportProc, options.gpioMap);
        !usage.empty()) {
        error = usage;
        return nullptr;
    }
    RealPortContext real{kernel, *board->clock_, options.notice};
    if (!real.notice)
        real.notice = [](const std::string& text) {
            std::fprintf(stderr, "%s\n", text.c_str());
        };

    if (!options.simPortFault.empty() && kind != "sim") {
        error = "--sim-port-fails-after is a fault of the simulated board (--port sim).";
        return nullptr;
    }
    if (kind == "ppdev") {
        const std::string device = arg.empty() ? kDefaultDevice : arg;
        board->backend_ = PpdevPort::open(device, real, error);
    } else if (kind == "direct") {
        const std::uint16_t address = arg.empty() ? LptDataPort : *ParsePortAddress(arg);
        board->backend_ = DirectPort::open(address, real, error);
    } else if (kind == "gpio") {
        const GpioSpec gpio = SplitGpioSpec(arg, options.gpioMap);
        std::string ignored;
        board->backend_ = GpioPort::open(gpio.chip, *ParseGpioMap(gpio.map, ignored), real, error);
    } else if (kind == "sim") {
        auto sim = std::make_unique<SimBoard>(*board->clock_);
        if (!options.virtualTime)
            sim->setAccessTime(VirtualClock::kPortAccessNs);
        board->folder_ =
            std::make_unique<BoardFolder>(arg.empty() ? BoardFolder::defaultFolder() : arg);
        board->folderWait_ = options.folderWait;
        if (!board->folder_->claim(options.folderWait, error) || !board->folder_->load(*sim, error))
            return nullptr;
        if (!options.simPortFault.empty()) {
            std::string count = options.simPortFault;
            const bool readsOnly = count.size() > 6 && count.substr(count.size() - 6) == ":reads";
            if (readsOnly)
                count.resize(count.size() - 6);
            long accesses = -1;
            try {
                std::size_t used = 0;
                accesses = std::stol(count, &used);
                if (used != count.size())
                    accesses = -1;
            } catch (...) {
            }
            if (accesses < 0) {
                error = "Invalid --sim-port-fails-after '" + options.simPortFault +
                        "' (for example 5000 or 5000:reads).";
                return nullptr;
            }
            sim->stopAnsweringAfter(accesses, readsOnly);
        }
        board->sim_ = sim.get();
        board->backend_ = std::move(sim);
    } else {
        error = "Unknown port '" + options.port +
                "': use ppdev[:DEVICE], direct[:ADDRESS], gpio:CHIP[:MAP] or sim[:DIR].";
        return nullptr;
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
