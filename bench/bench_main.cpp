#include "avr/avr_page.h"
#include "files/binary_file.h"
#include "files/image_file.h"
#include "files/unHEX.h"
#include "hw/bit_timing.h"
#include "hw/line_driver.h"
#include "i2c/eeprom_page.h"
#include "i2c/eeprom_types.h"
#include "production/auto_run.h"
#include "sim/avr_target.h"
#include "sim/chips.h"
#include "sim/eeprom_24cxx.h"
#include "sim/sim_board.h"
#include "sim/spi_flash_chip.h"
#include "spi/spi_flash.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

// A port that does nothing but count: what remains is the cost of the layers above it.
class NullPort final : public vardel::PortIo {
public:
    void DlPortWritePortUchar(std::uint16_t, std::uint8_t value) override
    {
        ++writes;
        benchmark::DoNotOptimize(value);
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t) override { return 0x80; }
    std::string describe() const override { return "null port"; }
    std::int64_t writes = 0;
};

// A clock whose counter jumps past any pause at once, so a bit delay costs two counter reads.
class InstantClock final : public vardel::Clock {
public:
    bool QueryPerformanceFrequency(std::int64_t& f) override
    {
        f = 1;
        return true;
    }
    std::int64_t QueryPerformanceCounter() override { return ++count_; }
    std::uint32_t GetTickCount() override { return static_cast<std::uint32_t>(count_ += 1000); }
    void Sleep(std::uint32_t) override {}
    std::int64_t nanoseconds() const override { return count_; }

private:
    std::int64_t count_ = 0;
};

// Hidden from the optimiser, so every port write is the virtual call the programs make.
[[gnu::noinline]] NullPort* hiddenPort(NullPort& port)
{
    NullPort* p = &port;
    benchmark::DoNotOptimize(p);
    return p;
}

void reportPerWrite(benchmark::State& state, std::int64_t writes)
{
    state.counters["ns/write"] = benchmark::Counter(
        static_cast<double>(writes), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LineDriverPerWrite(benchmark::State& state)
{
    NullPort port;
    vardel::LineDriver lines(*static_cast<vardel::PortIo*>(hiddenPort(port)));
    lines.SetAvrLines(1, 0, 0, 0, 1);
    std::uint8_t level = 0;
    for (auto _ : state) {
        lines.SetAvrXtal(level);
        level ^= 1;
    }
    reportPerWrite(state, port.writes);
}
BENCHMARK(BM_LineDriverPerWrite);

// One byte sent with its acknowledge clock: the I2C layer over the line driver.
void BM_I2CWriteBytePerWrite(benchmark::State& state)
{
    NullPort port;
    InstantClock clock;
    vardel::LineDriver lines(*static_cast<vardel::PortIo*>(hiddenPort(port)));
    vardel::BitTiming timing(clock);
    timing.MeasureClock();
    timing.DelayFactor = 1;
    vardel::I2CBus bus(lines, timing);
    bus.I2CIdle();
    std::uint8_t value = 0;
    for (auto _ : state) {
        bus.I2CWriteByte(value++);
        benchmark::DoNotOptimize(bus.I2CReadAck());
    }
    reportPerWrite(state, port.writes);
}
BENCHMARK(BM_I2CWriteBytePerWrite);

// The texts of every cell of the grid for a 24C512: what a full refresh asks of the model.
void BM_GridRefresh64KiB(benchmark::State& state)
{
    std::vector<std::uint8_t> image(65536);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7);
    for (auto _ : state) {
        std::size_t total = 0;
        for (int row = 0; row < 8192; ++row)
            for (int column = 0; column < vardel::kGridColumns; ++column)
                total += vardel::GridCellText(image.data(), row, column).size();
        benchmark::DoNotOptimize(total);
    }
    state.counters["cells"] = 8192 * vardel::kGridColumns;
}
BENCHMARK(BM_GridRefresh64KiB)->Unit(benchmark::kMillisecond);

// ---- image files ------------------------------------------------------------------------------

// A folder for the benchmarks' files, removed when the program ends.
const std::filesystem::path& BenchFolder()
{
    static const struct Folder {
        std::filesystem::path path;
        Folder()
        {
            path = std::filesystem::temp_directory_path() /
                   ("vardel-bench-" + std::to_string(::getpid()));
            std::filesystem::create_directories(path);
        }
        ~Folder()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

std::vector<std::uint8_t> RandomImage(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> image(size);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(generator());
    return image;
}

std::vector<std::uint8_t> ReadBytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The image of a size, and the same image as a BIN and as a HEX file written by the program's own
// writer, made once.
struct ImageFiles {
    std::vector<std::uint8_t> image;
    std::string bin;
    std::string hex;
};

const ImageFiles& ImageOf(std::size_t size)
{
    static std::vector<std::pair<std::size_t, ImageFiles>> made;
    for (const auto& [s, files] : made)
        if (s == size)
            return files;
    ImageFiles files;
    files.image = RandomImage(size, static_cast<unsigned>(size));
    const std::string stem = (BenchFolder() / ("image-" + std::to_string(size))).string();
    files.bin = stem + ".bin";
    files.hex = stem + ".hex";
    vardel::WriteBinaryFile(files.bin, files.image.data(), files.image.size());
    vardel::WriteIntelHexFile(files.hex, files.image.data(), files.image.size());
    made.emplace_back(size, std::move(files));
    return made.back().second;
}

constexpr std::int64_t k128KiB = 128 * 1024;
constexpr std::int64_t k16MiB = 16 * 1024 * 1024;

void BM_IntelHexWrite(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    const ImageFiles& files = ImageOf(size);
    const std::string out = (BenchFolder() / "written.hex").string();
    for (auto _ : state) {
        if (!vardel::WriteIntelHexFile(out, files.image.data(), size)) {
            state.SkipWithError("the HEX file could not be written");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_IntelHexWrite)->Arg(k128KiB)->Arg(k16MiB)->Unit(benchmark::kMillisecond);

void BM_IntelHexRead(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    const ImageFiles& files = ImageOf(size);
    std::vector<std::uint8_t> buffer(size, 0xFF);
    // As the pages open an image: the file read whole and parsed, then laid into the memory.
    for (auto _ : state) {
        const vardel::ImageRead read = vardel::ReadImageFile(files.hex, 0);
        vardel::PlaceImageFile(read.file, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    if (buffer != files.image)
        state.SkipWithError("the HEX file did not read back as written");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_IntelHexRead)->Arg(k128KiB)->Arg(k16MiB)->Unit(benchmark::kMillisecond);

// ---- conversions as whole processes ----------------------------------------------------------

// Runs a program found on PATH (or by its path) with its output discarded; its exit status, or -1
// when it could not be started or did not exit.
int RunProcess(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool SrecCatAvailable()
{
    static const bool available = RunProcess({"srec_cat", "-version"}) == 0;
    return available;
}

double SecondsOf(const std::vector<std::string>& argv, int& status)
{
    const auto start = std::chrono::steady_clock::now();
    status = RunProcess(argv);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// True when a HEX file holds exactly the image.
bool HexHolds(const std::string& hex, const std::vector<std::uint8_t>& image)
{
    const vardel::ImageRead read = vardel::ReadImageFile(hex, 0);
    if (!read.ok() || read.file.hex.end() != image.size())
        return false;
    std::vector<std::uint8_t> buffer(image.size(), 0xFF);
    vardel::PlaceImageFile(read.file, buffer);
    return buffer == image;
}

// `vardel-cli convert` against srec_cat on the same file, BIN to HEX (hex_to_bin 0) or HEX to BIN
// (hex_to_bin 1), both writing 16-byte records. The time shown is vardel-cli's; "ratio" is how
// many times longer srec_cat takes.
void BM_ConvertProcess(benchmark::State& state)
{
    if (!SrecCatAvailable()) {
        state.SkipWithError("srec_cat is not installed (package srecord)");
        return;
    }
    const bool toHex = state.range(0) == 0;
    const auto size = static_cast<std::size_t>(state.range(1));
    const ImageFiles& files = ImageOf(size);
    const std::string in = toHex ? files.bin : files.hex;
    const char* ending = toHex ? ".hex" : ".bin";
    const std::string ours = (BenchFolder() / (std::string("vardel-out") + ending)).string();
    const std::string theirs = (BenchFolder() / (std::string("srec-out") + ending)).string();
    const std::vector<std::string> vardelCli{VARDEL_CLI_PATH, "convert", in, ours};
    const std::vector<std::string> srecCat =
        toHex
            ? std::vector<std::string>{"srec_cat", in, "-binary", "-o", theirs, "-intel", "-obs=16"}
            : std::vector<std::string>{"srec_cat", in, "-intel", "-o", theirs, "-binary"};

    double oursSeconds = 0, theirsSeconds = 0;
    for (auto _ : state) {
        int oursStatus = 0, theirsStatus = 0;
        const double o = SecondsOf(vardelCli, oursStatus);
        const double t = SecondsOf(srecCat, theirsStatus);
        if (oursStatus != 0 || theirsStatus != 0) {
            state.SkipWithError("a conversion failed");
            return;
        }
        oursSeconds += o;
        theirsSeconds += t;
        state.SetIterationTime(o);
    }
    // Both must have made the same image of the file, or the comparison means nothing.
    const bool same = toHex ? HexHolds(ours, files.image) && HexHolds(theirs, files.image)
                            : ReadBytes(ours) == files.image && ReadBytes(theirs) == files.image;
    if (!same) {
        state.SkipWithError("the two conversions do not agree with the image");
        return;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["vardel_ms"] = oursSeconds / n * 1e3;
    state.counters["srec_cat_ms"] = theirsSeconds / n * 1e3;
    state.counters["ratio"] = theirsSeconds / oursSeconds;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
// Start-up is most of a small conversion: more runs even out its noise.
const bool kConvertRegistered = [] {
    for (const auto& [bytes, runs] : {std::pair<std::int64_t, int>{k128KiB, 20}, {k16MiB, 3}})
        benchmark::RegisterBenchmark("BM_ConvertProcess", BM_ConvertProcess)
            ->ArgNames({"hex_to_bin", "bytes"})
            ->Args({0, bytes})
            ->Args({1, bytes})
            ->UseManualTime()
            ->Iterations(runs)
            ->Unit(benchmark::kMillisecond);
    return true;
}();

// ---- whole operations on the simulated board -------------------------------------------------

// On the virtual clock every run of an operation takes the same time: one is measure enough.
void OneRun(benchmark::internal::Benchmark* b)
{
    b->Iterations(1)->Unit(benchmark::kMillisecond);
}

// Counts the data-register writes on their way to the board.
class CountingPort final : public vardel::PortIo {
public:
    explicit CountingPort(vardel::PortIo& inner) : inner_(inner) {}
    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override
    {
        ++writes;
        inner_.DlPortWritePortUchar(port, value);
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
    {
        return inner_.DlPortReadPortUchar(port);
    }
    std::string describe() const override { return inner_.describe(); }
    std::int64_t writes = 0;

private:
    vardel::PortIo& inner_;
};

// A host with no one in front of it: it keeps the last message and answers nothing else.
class QuietHost final : public vardel::Host {
public:
    Result MessageBox(const std::string& text, const std::string& caption, Kind, Buttons,
                      Icon) override
    {
        lastMessage = caption + "|" + text;
        return Result::Ok;
    }
    void BusyCursor() override {}
    void NormalCursor() override {}
    void ProgressShow() override {}
    void ProgressHide() override {}
    void ProgressLabel(const std::string&) override {}
    void ProgressGauge(int) override {}
    bool CancelFlag() override { return false; }
    void FlashGauge(int) override {}
    void EepromGauge(int) override {}
    void ProcessMessages() override {}
    std::string lastMessage;
};

void reportSimulatedRun(benchmark::State& state, std::int64_t writes, double virtualSeconds)
{
    reportPerWrite(state, writes);
    const double n = static_cast<double>(state.iterations());
    state.counters["port_writes"] = static_cast<double>(writes) / n;
    // What the run takes on the virtual clock: 1 us a port access, the bit delays and sleeps in
    // full.
    state.counters["virtual_s"] = virtualSeconds / n;
}

// "Read chip" or "Program chip" of a whole 24Cxx at DelayFactor 1 through the bit-level I2C slave,
// with the port writes per byte of the chip.
void SimEeprom(benchmark::State& state, const char* type, bool program)
{
    const int size = vardel::kEepromTypes[vardel::FindEepromType(type)].size;
    const auto memory = RandomImage(static_cast<std::size_t>(size), static_cast<unsigned>(size));
    std::int64_t writes = 0;
    double virtualSeconds = 0;
    for (auto _ : state) {
        vardel::VirtualClock clock;
        vardel::sim::SimBoard board{clock};
        CountingPort port{board};
        vardel::LineDriver lines{port};
        vardel::BitTiming timing{clock};
        timing.MeasureClock();
        timing.DelayFactor = 1;
        QuietHost host;
        vardel::OperationLock lock;
        vardel::EepromPage page{lines, timing, host, lock};
        page.cbChipChange(vardel::FindEepromType(type));
        auto chip =
            std::make_unique<vardel::sim::Eeprom24Cxx>(*vardel::sim::Eeprom24Cxx::findType(type));
        auto* socket = chip.get();
        board.insertEeprom(std::move(chip));
        if (program)
            std::copy(memory.begin(), memory.end(), page.EepromImage.begin());
        else
            socket->memory() = memory;
        const auto done = program ? page.Grabarchip1Click() : page.Leerchip1Click();
        const auto& result = program ? socket->memory() : page.EepromImage;
        if (done != vardel::EepromPage::Outcome::Done ||
            !std::equal(memory.begin(), memory.end(), result.begin())) {
            state.SkipWithError(program ? "the chip was not programmed"
                                        : "the chip did not read back");
            return;
        }
        writes += port.writes;
        virtualSeconds += static_cast<double>(clock.nanoseconds()) / 1e9;
    }
    reportSimulatedRun(state, writes, virtualSeconds);
    state.counters["writes_per_byte"] =
        static_cast<double>(writes) / static_cast<double>(state.iterations()) / size;
}
BENCHMARK_CAPTURE(SimEeprom, 24C512Read, "24C512", false)->Apply(OneRun);
BENCHMARK_CAPTURE(SimEeprom, 24C1024Read, "24C1024", false)->Apply(OneRun);
BENCHMARK_CAPTURE(SimEeprom, 24C512Program, "24C512", true)->Apply(OneRun);
BENCHMARK_CAPTURE(SimEeprom, 24C1024Program, "24C1024", true)->Apply(OneRun);

// A fresh simulated board with its port counted, and the AVR page over it.
struct SimAvrRig {
    vardel::VirtualClock clock;
    vardel::sim::SimBoard board{clock};
    CountingPort port{board};
    vardel::LineDriver lines{port};
    vardel::BitTiming timing{clock};
    QuietHost host;
    vardel::OperationLock lock;
    vardel::AvrPage page{lines, clock, host, lock};
};

// Runs `commands` over a fresh simulated board holding a new chip of `device`, with `file` offered
// to every open dialog of the page, and reports the port writes and virtual time they took.
// `commands` answers whether the chip ended as it should; `failure` says what went wrong.
void SimAvrPageRun(benchmark::State& state, const char* device, const std::string& file,
                   const std::function<bool(SimAvrRig&, const vardel::sim::AvrTarget&)>& commands,
                   const char* failure, std::size_t flashBytes = 0)
{
    std::int64_t writes = 0;
    double virtualSeconds = 0;
    for (auto _ : state) {
        SimAvrRig rig;
        rig.page.dialogs.open = [&](const std::string&) {
            return std::optional(file);
        };
        std::string error;
        auto chip = vardel::sim::MakeAvrChip(device, "", error);
        const auto* target = static_cast<const vardel::sim::AvrTarget*>(chip.get());
        rig.board.insertAvr(std::move(chip));
        if (!commands(rig, *target)) {
            state.SkipWithError((std::string(failure) + ": " + rig.host.lastMessage).c_str());
            return;
        }
        writes += rig.port.writes;
        virtualSeconds += static_cast<double>(rig.clock.nanoseconds()) / 1e9;
    }
    reportSimulatedRun(state, writes, virtualSeconds);
    if (flashBytes)
        state.counters["writes/flash_byte"] = static_cast<double>(writes) /
                                              static_cast<double>(state.iterations()) /
                                              static_cast<double>(flashBytes);
}

// "Program Flash" then "Verify Flash" of a 128 KiB part (ATmega128 or ATmega103, at the slowest
// write times of its part data) with a 128 KiB image: 512 pages loaded byte by byte, then every
// byte read back.
void SimAvrFlashProgramVerify(benchmark::State& state, const char* device)
{
    SimAvrPageRun(
        state, device, ImageOf(static_cast<std::size_t>(k128KiB)).bin,
        [](SimAvrRig& rig, const vardel::sim::AvrTarget&) {
            return rig.page.btnProgFlashClick() == vardel::AvrPage::Outcome::Done &&
                   rig.page.btnFLashVerifClick() == vardel::AvrPage::Outcome::Done &&
                   rig.host.lastMessage == "Verification complete|VERIFICATION: OK !!!!!";
        },
        "the flash did not program and verify");
}
BENCHMARK_CAPTURE(SimAvrFlashProgramVerify, ATmega128, "ATmega128")->Apply(OneRun);

// "Program Flash" with its verify in one job (vardel-cli's program-flash --verify): the pages
// are not read back after their writes, every byte is read once, in the verify.
void SimAvrFlashProgramVerifyOnePass(benchmark::State& state, const char* device, std::size_t bytes)
{
    const std::string file = ImageOf(bytes).bin;
    SimAvrPageRun(
        state, device, file,
        [&file](SimAvrRig& rig, const vardel::sim::AvrTarget& chip) {
            return rig.page.ProgramMemory(vardel::AvrPage::Memory::Flash, file, true) ==
                       vardel::AvrPage::Outcome::Done &&
                   rig.host.lastMessage == "Verification complete|VERIFICATION: OK !!!!!" &&
                   chip.lostSckEdges() == 0;
        },
        "the flash did not program and verify", bytes);
}
BENCHMARK_CAPTURE(SimAvrFlashProgramVerifyOnePass, ATmega128, "ATmega128", 131072)->Apply(OneRun);
BENCHMARK_CAPTURE(SimAvrFlashProgramVerifyOnePass, ATmega328P, "ATmega328P", 32768)->Apply(OneRun);

// One Auto chip: the whole flash and EEPROM of random data, the fuse bytes and the lock byte, in
// one session.
void SimAutoChip(benchmark::State& state, const char* part, std::size_t flashBytes,
                 std::size_t eepromBytes, const char* fuses)
{
    const std::string project = [&] {
        const auto flash = RandomImage(flashBytes, 328);
        const auto eeprom = RandomImage(eepromBytes, 329);
        const std::filesystem::path folder = BenchFolder();
        const std::string stem = std::string("auto-") + part;
        vardel::WriteBinaryFile((folder / (stem + "-flash.bin")).string(), flash.data(),
                                flash.size());
        vardel::WriteBinaryFile((folder / (stem + "-eeprom.bin")).string(), eeprom.data(),
                                eeprom.size());
        const std::string name = (folder / (stem + ".vardel")).string();
        std::ofstream(name) << "socket = avr\npart = " << part << "\nflash = " << stem
                            << "-flash.bin\neeprom = " << stem << "-eeprom.bin\n"
                            << fuses << "lock = LB1=0 LB2=0\n";
        return name;
    }();
    SimAvrPageRun(
        state, part, project,
        [&](SimAvrRig& rig, const vardel::sim::AvrTarget& chip) {
            vardel::AutoJobLoad load = vardel::LoadAutoJob(project);
            vardel::AutoRun run{rig.lines, rig.clock, rig.timing, rig.host, rig.lock};
            return load.ok() && run.run(load.job) == vardel::AutoRun::Result::Ok &&
                   chip.lostSckEdges() == 0;
        },
        "the Auto run failed", flashBytes);
}
BENCHMARK_CAPTURE(SimAutoChip, ATmega328P, "ATmega328P", 32768, 1024,
                  "fuse.low = 0xFF\nfuse.high = 0xDA\nfuse.extended = 0xFD\n")
    ->Apply(OneRun);
BENCHMARK_CAPTURE(SimAutoChip, ATmega2560, "ATmega2560", 262144, 4096,
                  "fuse.low = 0xFF\nfuse.high = 0xD8\nfuse.extended = 0xFD\n")
    ->Apply(OneRun);

BENCHMARK_CAPTURE(SimAvrFlashProgramVerify, ATmega103, "ATmega103")->Apply(OneRun);

// "Program Flash" alone of an ATmega128: a program of one 256-byte page (the rest of the file's
// 128 KiB 0xFF, as the erase leaves it) against all 128 KiB of random data. Pages all 0xFF are
// not written, so the one-page program costs the erase, the power-up and one page.
void SimATmega128Program(benchmark::State& state, bool onePage)
{
    static const std::string onePageFile = [] {
        std::vector<std::uint8_t> image(static_cast<std::size_t>(k128KiB), 0xFF);
        const auto page = RandomImage(256, 256);
        std::copy(page.begin(), page.end(), image.begin());
        const std::string name = (BenchFolder() / "one-page-atmega128.bin").string();
        vardel::WriteBinaryFile(name, image.data(), image.size());
        return name;
    }();
    SimAvrPageRun(
        state, "ATmega128", onePage ? onePageFile : ImageOf(static_cast<std::size_t>(k128KiB)).bin,
        [](SimAvrRig& rig, const vardel::sim::AvrTarget&) {
            return rig.page.btnProgFlashClick() == vardel::AvrPage::Outcome::Done;
        },
        "the flash did not program");
}
BENCHMARK_CAPTURE(SimATmega128Program, OnePage, true)->Apply(OneRun);
BENCHMARK_CAPTURE(SimATmega128Program, Whole128KiB, false)->Apply(OneRun);

// "Program internal eeprom" of an ATmega2560 (4 KiB, 9 ms a write at the slowest of its part
// data) with 4 KiB of random data, every byte read back after its write.
void SimATmega2560EepromProgram(benchmark::State& state)
{
    static const std::string file = [] {
        const auto image = RandomImage(4096, 2560);
        const std::string name = (BenchFolder() / "eeprom-atmega2560.bin").string();
        vardel::WriteBinaryFile(name, image.data(), image.size());
        return name;
    }();
    const auto image = RandomImage(4096, 2560);
    SimAvrPageRun(
        state, "ATmega2560", file,
        [&](SimAvrRig& rig, const vardel::sim::AvrTarget& chip) {
            return rig.page.BitBtn1Click() == vardel::AvrPage::Outcome::Done &&
                   chip.eeprom() == image;
        },
        "the EEPROM did not program");
}
BENCHMARK(SimATmega2560EepromProgram)->Apply(OneRun);

} // namespace

// ---- an SPI NOR flash on the simulated board ------------------------------------------------

// Counts every port access and the bits clocked (SCK, data bit 6 on the AVR wiring, rising).
class SpiCountingPort final : public vardel::PortIo {
public:
    explicit SpiCountingPort(vardel::PortIo& inner) : inner_(inner) {}
    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override
    {
        ++accesses;
        if (port == vardel::LptDataPort) {
            bits += (value & 0x40) && !(last_ & 0x40);
            last_ = value;
        }
        inner_.DlPortWritePortUchar(port, value);
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
    {
        ++accesses;
        return inner_.DlPortReadPortUchar(port);
    }
    std::string describe() const override { return inner_.describe(); }
    std::int64_t accesses = 0;
    std::int64_t bits = 0;

private:
    vardel::PortIo& inner_;
    std::uint8_t last_ = 0;
};

enum class FlashJob { Read, EraseProgramVerify, FourKiBChange };

// A W25Q64 (8 MiB) holding random data: read whole; erased, programmed and verified with other
// random data; or given a 4 KiB change in one sector (the range alone programmed and verified).
void SimSpiFlash(benchmark::State& state, FlashJob job)
{
    constexpr std::size_t k8MiB = 8u << 20;
    constexpr std::uint32_t kChangeAt = 0x123000;
    const auto full = RandomImage(k8MiB, 1);
    const auto change = RandomImage(4096, 3);
    auto expected = full;
    std::copy(change.begin(), change.end(), expected.begin() + kChangeAt);
    for (auto _ : state) {
        vardel::VirtualClock clock;
        vardel::sim::SimBoard board{clock};
        SpiCountingPort port{board};
        vardel::LineDriver lines{port};
        vardel::BitTiming timing{clock};
        timing.MeasureClock();
        QuietHost host;
        vardel::OperationLock lock;
        vardel::SpiFlash flash{lines, timing, host, lock};
        auto chip = vardel::sim::MakeSpiFlashChip("W25Q64");
        auto* socket = chip.get();
        board.insertAvr(std::move(chip));
        socket->memory() = job == FlashJob::EraseProgramVerify ? RandomImage(k8MiB, 2) : full;
        const std::int64_t start = clock.nanoseconds();
        bool ok = false;
        std::vector<std::uint8_t> read;
        switch (job) {
        case FlashJob::Read:
            ok = flash.Read(read) == vardel::SpiFlash::Outcome::Done && read == full;
            break;
        case FlashJob::EraseProgramVerify:
            ok = flash.Program(full, true) == vardel::SpiFlash::Outcome::Done &&
                 socket->memory() == full;
            break;
        case FlashJob::FourKiBChange:
            ok = flash.Program(kChangeAt, change, true) == vardel::SpiFlash::Outcome::Done &&
                 flash.sectorsErased == 1 && flash.blocksErased == 0 &&
                 socket->memory() == expected;
            break;
        }
        if (!ok) {
            state.SkipWithError(host.lastMessage.empty() ? "the chip did not end as it should"
                                                         : host.lastMessage.c_str());
            return;
        }
        state.counters["virtual_s"] = static_cast<double>(clock.nanoseconds() - start) / 1e9;
        state.counters["port_accesses"] = static_cast<double>(port.accesses);
        state.counters["accesses_per_bit"] =
            static_cast<double>(port.accesses) / static_cast<double>(port.bits);
    }
}
BENCHMARK_CAPTURE(SimSpiFlash, W25Q64Read8MiB, FlashJob::Read)->Apply(OneRun);
BENCHMARK_CAPTURE(SimSpiFlash, W25Q64EraseProgramVerify8MiB, FlashJob::EraseProgramVerify)
    ->Apply(OneRun);
BENCHMARK_CAPTURE(SimSpiFlash, W25Q64FourKiBChange, FlashJob::FourKiBChange)->Apply(OneRun);

BENCHMARK_MAIN();
