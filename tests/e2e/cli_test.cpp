#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace {

struct Result {
    int status;
    std::string out;
};

// Runs a command through the shell and keeps what it printed (standard output and error).
Result run(const std::string& command)
{
    Result r{-1, {}};
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    std::array<char, 4096> buf{};
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p))
        r.out.append(buf.data(), n);
    const int raw = ::pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

// vardel-cli on a simulated board kept in a folder of the test's own, on the virtual clock, with
// a settings store of its own.
class Cli : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string board() const { return dir.path().toStdString() + "/board"; }
    std::string file(const char* name) const { return dir.path().toStdString() + "/" + name; }
    Result cli(const std::string& args) const
    {
        return run("XDG_CONFIG_HOME=" + dir.path().toStdString() +
                   " " VARDEL_CLI " --port sim:" + board() + " --virtual-time " + args);
    }
};

bool haveTool(const char* tool)
{
    return run(std::string("command -v ") + tool + " >/dev/null").status == 0;
}

} // namespace

TEST_F(Cli, CheckPassesOnTheSimulatedBoard)
{
    const Result r = cli("check");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "OK: Corvid respond correct!!!\n");
}

TEST_F(Cli, AMissingParallelPortIsNamed)
{
    const Result r = run(VARDEL_CLI " --port ppdev:/dev/no-such-port check");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("/dev/no-such-port"), std::string::npos) << r.out;
}

TEST_F(Cli, UsageErrorsExitWith2)
{
    EXPECT_EQ(cli("").status, 2);
    EXPECT_EQ(cli("frobnicate").status, 2);
    EXPECT_EQ(cli("eeprom read 24C03 x.bin").status, 2);
    EXPECT_EQ(cli("eeprom read 24C04").status, 2);
    EXPECT_EQ(cli("check extra").status, 2);
}

TEST_F(Cli, AChipProgrammedInOneRunVerifiesInTheNext)
{
    {
        std::ofstream image(file("image.bin"), std::ios::binary);
        for (int i = 0; i < 4096; ++i)
            image.put(static_cast<char>(i * 13 + 5));
    }
    ASSERT_EQ(cli("sim insert-eeprom 24c32").status, 0);
    EXPECT_EQ(cli("sim show").out, "eeprom=24C32\navr=none\n");
    Result r = cli("eeprom program 24C32 " + file("image.bin"));
    EXPECT_EQ(r.status, 0) << r.out;
    r = cli("eeprom verify 24c32 " + file("image.bin"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "VERIFICATION COMPLETE: Weryfikacja chipu przebiegła prawidłowo!!!\n");

    // The same chip read into a HEX file and exported by the board give the image back.
    EXPECT_EQ(cli("eeprom read 24C32 " + file("read.hex")).status, 0);
    EXPECT_EQ(cli("sim export eeprom " + file("export.bin")).status, 0);
    EXPECT_EQ(run("cmp " + file("image.bin") + " " + file("export.bin")).status, 0);
    EXPECT_EQ(cli("eeprom verify 24C32 " + file("read.hex")).status, 0);

    // A changed image is a difference: exit status 1.
    {
        std::fstream image(file("image.bin"), std::ios::in | std::ios::out | std::ios::binary);
        image.seekp(300);
        image.put('\x00');
    }
    r = cli("eeprom verify 24C32 " + file("image.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "VERIFICATION ERROR: Defference found at byte no.: 300\n");
}

TEST_F(Cli, WithoutAChipTheReadFailsAndWritesNoFile)
{
    const Result r = cli("eeprom read 24C04 " + file("none.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "ERROR: Brak potwierdzenia odbioru danych przez chip!!!\n"
                     "            (Didn't receive ACK)\n");
    EXPECT_FALSE(std::ifstream(file("none.bin")).good());
}

TEST_F(Cli, TheTraceOfAReadDecodesAsI2C)
{
    if (!haveTool("sigrok-cli"))
        GTEST_SKIP() << "sigrok-cli is not installed";
    ASSERT_EQ(cli("sim insert-eeprom 24C256 " SAMPLES_DIR "/blink-atmega163.hex").status, 0);
    ASSERT_EQ(cli("--trace " + file("read.vcd") + " eeprom read 24C256 " + file("r.bin")).status,
              0);
    const Result decoded =
        run("sigrok-cli -i " + file("read.vcd") +
            " -P i2c:scl=scl:sda=sda -A i2c=start:repeat-start:address-write:address-read:"
            "data-write:data-read:stop:ack:nack");
    ASSERT_EQ(decoded.status, 0) << decoded.out;
    std::istringstream lines(decoded.out);
    std::vector<std::string> events;
    for (std::string line; std::getline(lines, line) && events.size() < 16;)
        events.push_back(line);
    const std::vector<std::string> expected{
        "i2c-1: Start",          "i2c-1: Write", "i2c-1: Address write: 50", "i2c-1: ACK",
        "i2c-1: Data write: 00", "i2c-1: ACK",   "i2c-1: Data write: 00",    "i2c-1: ACK",
        "i2c-1: Start repeat",   "i2c-1: Read",  "i2c-1: Address read: 50",  "i2c-1: ACK",
        "i2c-1: Data read: 0C",  "i2c-1: ACK",   "i2c-1: Data read: 94",     "i2c-1: ACK"};
    EXPECT_EQ(events, expected) << decoded.out.substr(0, 2000);
    EXPECT_EQ(decoded.out.find("Warning"), std::string::npos);
}

TEST_F(Cli, TheTraceOfAnIdentificationDecodesAsAvrSerialProgramming)
{
    if (!haveTool("sigrok-cli"))
        GTEST_SKIP() << "sigrok-cli is not installed";
    const std::vector<std::pair<std::string, std::string>> parts{{"AT90S8515", "Atmel AT90S8515"},
                                                                 {"AT90S2313", "Atmel AT90S2313"},
                                                                 {"AT90S4414", "Atmel AT90S4414"},
                                                                 {"ATmega128", ""}};
    for (const auto& [device, named] : parts) {
        SCOPED_TRACE(device);
        ASSERT_EQ(cli("sim insert-avr " + device).status, 0);
        const std::string trace = file("identify.vcd");
        ASSERT_EQ(cli("--trace " + trace + " avr identify").status, 0);
        const Result decoded = run("sigrok-cli -i " + trace +
                                   " -P spi:clk=sck:mosi=mosi:miso=miso,avr_isp -A avr_isp");
        ASSERT_EQ(decoded.status, 0) << decoded.out;
        EXPECT_NE(decoded.out.find("avr_isp-1: Programming enable"), std::string::npos)
            << decoded.out;
        EXPECT_NE(decoded.out.find("Vendor code: 0x1e (Atmel)"), std::string::npos);
        EXPECT_EQ(decoded.out.find("Warning"), std::string::npos) << decoded.out;
        if (!named.empty()) {
            EXPECT_NE(decoded.out.find("Device: " + named), std::string::npos) << decoded.out;
        }
    }
}

TEST_F(Cli, ConvertGoesBetweenHexAndBinAtTrueAddresses)
{
    const std::string samples = SAMPLES_DIR;
    // The merged file ends with the boot code below 0x20000; the BIN stops at its last byte.
    Result r =
        run(VARDEL_CLI " convert " + samples + "/app-and-boot-atmega128.hex " + file("merged.bin"));
    ASSERT_EQ(r.status, 0) << r.out;
    std::ifstream bin(file("merged.bin"), std::ios::binary | std::ios::ate);
    const auto size = static_cast<long>(bin.tellg());
    EXPECT_GT(size, 0x1E000);
    EXPECT_LE(size, 0x20000);
    EXPECT_EQ(run("cmp -n " + std::to_string(size) + " " + file("merged.bin") + " " + samples +
                  "/app-and-boot-atmega128.bin")
                  .status,
              0);
    // BIN to HEX and back gives the same bytes; srec_cat reads our HEX the same way.
    ASSERT_EQ(run(VARDEL_CLI " convert " + file("merged.bin") + " " + file("merged.hex")).status,
              0);
    ASSERT_EQ(run(VARDEL_CLI " convert " + file("merged.hex") + " " + file("again.bin")).status, 0);
    EXPECT_EQ(run("cmp " + file("merged.bin") + " " + file("again.bin")).status, 0);
    if (haveTool("srec_cat")) {
        ASSERT_EQ(
            run("srec_cat " + file("merged.hex") + " -intel -o " + file("srec.bin") + " -binary")
                .status,
            0);
        EXPECT_EQ(run("cmp " + file("merged.bin") + " " + file("srec.bin")).status, 0);
    }
    EXPECT_EQ(run(VARDEL_CLI " convert " + file("missing.hex") + " " + file("x.bin")).status, 1);
    EXPECT_EQ(run(VARDEL_CLI " convert a.txt b.bin").status, 2);
}

TEST_F(Cli, AvrFlashProgrammedInOneRunVerifiesAndReadsBackInTheNext)
{
    const std::string samples = SAMPLES_DIR;
    ASSERT_EQ(cli("sim insert-avr AT90S2313").status, 0);
    EXPECT_EQ(cli("avr identify").out, "AT90S2313 (2kb flash)\n");
    Result r = cli("avr program-flash " + samples + "/blink-at90s2313.hex");
    EXPECT_EQ(r.status, 0) << r.out;
    r = cli("avr verify-flash " + samples + "/blink-at90s2313.hex");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(cli("avr read-flash " + file("flash.bin")).status, 0);
    EXPECT_EQ(cli("sim export flash " + file("export.bin")).status, 0);
    EXPECT_EQ(run("cmp " + file("flash.bin") + " " + file("export.bin")).status, 0);
    EXPECT_EQ(
        run(VARDEL_CLI " convert " + samples + "/blink-at90s2313.hex " + file("blink.bin")).status,
        0);
    std::ifstream blink(file("blink.bin"), std::ios::binary | std::ios::ate);
    const auto size = std::to_string(static_cast<long>(blink.tellg()));
    EXPECT_EQ(run("cmp -n " + size + " " + file("flash.bin") + " " + file("blink.bin")).status, 0);
    // A file that cannot be read never reaches the chip.
    r = cli("avr program-flash " + file("missing.hex"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("ERROR: ", 0), 0u) << r.out;
    EXPECT_EQ(cli("avr verify-flash " + samples + "/blink-at90s2313.hex").status, 0);
    EXPECT_EQ(cli("avr frobnicate").status, 2);
}

TEST_F(Cli, FuseAndLockCommandsChangeOnlyWhatIsNamedAndConfirmed)
{
    ASSERT_EQ(cli("sim insert-avr ATmega128").status, 0);
    Result r = cli("avr read-fuses");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("JTAGEN=0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("CKOPT=1\n"), std::string::npos);
    // The ATmega128 asks first: without --yes nothing is written.
    EXPECT_EQ(cli("avr program-fuses CKOPT=0").status, 1);
    EXPECT_NE(cli("sim show").out.find("avr.fuse.high=99\n"), std::string::npos);
    r = cli("--yes avr program-fuses CKOPT=0");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(cli("sim show").out.find("avr.fuse.high=89\n"), std::string::npos);

    // An ATtiny12 locked with LB1 alone shows as locked.
    ASSERT_EQ(cli("sim insert-avr ATtiny12 --set avr.lock=FD").status, 0);
    r = cli("avr read-lock");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("LB1=0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LB2=1"), std::string::npos) << r.out;
}

TEST_F(Cli, TheDesktopProgramStartsOffscreenAndStaysUp)
{
    const Result r = run("QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" + dir.path().toStdString() +
                         " timeout 3 " VARDEL_APP " --port sim:" + board() + " --virtual-time");
    EXPECT_EQ(r.status, 124) << r.out; // still running when the timeout ended it
}

// Whatever the file offered, a chip that was programmed stays as it was and the run fails with
// an ERROR that names the fault.
TEST_F(Cli, NoBadFileReachesAProgrammedChip)
{
    const std::string samples = SAMPLES_DIR;
    ASSERT_EQ(cli("sim insert-eeprom 24C04").status, 0);
    ASSERT_EQ(cli("sim insert-avr ATmega163 --flash " + samples + "/blink-atmega163.hex").status,
              0);
    {
        std::ofstream image(file("image.bin"), std::ios::binary);
        for (int i = 0; i < 512; ++i)
            image.put(static_cast<char>(i * 7 + 1));
    }
    ASSERT_EQ(cli("eeprom program 24C04 " + file("image.bin")).status, 0);
    std::filesystem::create_directory(file("folder.bin"));
    std::filesystem::create_directory(file("folder.hex"));
    std::filesystem::create_symlink("/dev/zero", file("zero.hex"));
    const auto write = [this](const char* name, const std::string& text) {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    };
    const struct {
        std::string name;
        const char* error;
    } cases[] = {
        {file("folder.bin"), "ERROR: Can't open file!!"},
        {file("folder.hex"), "ERROR: Can't open file!!"},
        {file("zero.hex"), "ERROR: Can't open file!!"},
        {write("text.hex", "Release notes\n"), "ERROR: line 1: no start code ':'"},
        {write("empty.hex", ""), "ERROR: no data for this memory"},
        {write("elf.hex", std::string("\x7f"
                                      "ELF\x01\x01\x00",
                                      7)),
         "ERROR: line 1: no start code ':'"},
        {write("sum.hex", ":0400000001020304F2\n:0400100001020304E3\n"),
         "ERROR: line 2: bad checksum"},
        {write("count.hex", ":04001000010203E2\n"),
         "ERROR: line 1: byte count does not match the line"},
        {write("far.hex", ":020000040001F9\n:0400000001020304F2\n"),
         "ERROR: no data for this memory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* command :
             {"eeprom program 24C04 ", "eeprom verify 24C04 ", "avr program-flash ",
              "avr verify-flash ", "avr program-eeprom "}) {
            SCOPED_TRACE(command);
            const Result r = cli(command + c.name);
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.out.find(c.error), std::string::npos) << r.out;
            EXPECT_EQ(r.out.find("OK"), std::string::npos) << r.out;
        }
        EXPECT_EQ(cli("sim insert-avr ATmega163 --eeprom " + c.name).status, 1);
    }
    EXPECT_EQ(cli("sim export eeprom " + file("after.bin")).status, 0);
    EXPECT_EQ(run("cmp " + file("image.bin") + " " + file("after.bin")).status, 0);
    EXPECT_EQ(cli("avr verify-flash " + samples + "/blink-atmega163.hex").status, 0);
}

TEST_F(Cli, AvrGccEepromOutputAt810000ProgramsTheSameBytes)
{
    const std::string samples = SAMPLES_DIR;
    ASSERT_EQ(cli("sim insert-avr ATmega163").status, 0);
    Result r = cli("avr program-eeprom " + samples + "/blink-atmega163-eeprom-at-810000.hex");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(cli("avr verify-eeprom " + samples + "/blink-atmega163-eeprom.hex").status, 0);
    EXPECT_EQ(cli("sim export avr-eeprom " + file("far.bin")).status, 0);
    ASSERT_EQ(cli("sim insert-avr ATmega163 --eeprom " + samples +
                  "/blink-atmega163-eeprom-at-810000.hex")
                  .status,
              0);
    EXPECT_EQ(cli("sim export avr-eeprom " + file("inserted.bin")).status, 0);
    EXPECT_EQ(run("cmp " + file("far.bin") + " " + file("inserted.bin")).status, 0);
    // The flash takes no such offset: the file gives it nothing.
    r = cli("avr program-flash " + samples + "/blink-atmega163-eeprom-at-810000.hex");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "ERROR: no data for this memory\n");
    // Part inside, part outside: a WARNING with the count and the first address, then the rest.
    std::ofstream(file("part.hex")) << ":0201FF00AABB99\n";
    r = cli("avr program-eeprom " + file("part.hex"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "WARNING:: File contains 1 bytes outside this memory, the first at $0200:\n"
                     "They will be left out\n");
}

TEST_F(Cli, ConvertRefusesWhatItCannotReadOrHoldAndKeepsNameBytes)
{
    std::ofstream(file("far.hex")) << ":02000004FFFFFC\n:0100000000FF\n";
    Result r = run(VARDEL_CLI " convert " + file("far.hex") + " " + file("far.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("larger than 256 MiB"), std::string::npos) << r.out;
    std::filesystem::create_symlink("/dev/zero", file("zero.hex"));
    r = run(VARDEL_CLI " convert " + file("zero.hex") + " " + file("zero.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("is not a regular file"), std::string::npos) << r.out;
    // Nothing was written, no temporary either: only the two inputs are there.
    const std::filesystem::directory_iterator entries(dir.path().toStdString());
    EXPECT_EQ(std::distance(std::filesystem::begin(entries), std::filesystem::end(entries)), 2);

    // A name that is not UTF-8 reaches the system unchanged, in both programs.
    std::ofstream(file("blink.hex")) << ":0400000001020304F2\n";
    const std::string latin1 = file("\xe9.bin");
    EXPECT_EQ(run(VARDEL_CLI " convert " + file("blink.hex") + " '" + latin1 + "'").status, 0);
    EXPECT_TRUE(std::filesystem::exists(latin1));
    ASSERT_EQ(cli("sim insert-eeprom 24C04 '" + latin1 + "'").status, 0);
    EXPECT_EQ(cli("sim export eeprom '" + file("\xe9\xe9.bin") + "'").status, 0);
    EXPECT_TRUE(std::filesystem::exists(file("\xe9\xe9.bin")));
}
