#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace {

struct Result {
    int status;
    std::string out;
};

// Runs a command through the shell and keeps what it printed (standard output and error, or
// standard error alone).
Result run(const std::string& command, bool stderrOnly = false)
{
    Result r{-1, {}};
    FILE* p = ::popen((command + (stderrOnly ? " 2>&1 >/dev/null" : " 2>&1")).c_str(), "r");
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
    Result cli(const std::string& args, bool stderrOnly = false) const
    {
        return run("XDG_CONFIG_HOME=" + dir.path().toStdString() +
                       " " VARDEL_CLI " --port sim:" + board() + " --virtual-time " + args,
                   stderrOnly);
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

TEST_F(Cli, TheSmallestAndLargestTypesRoundTripThroughBinAndHex)
{
    for (const auto& [type, size] :
         {std::pair{"24C01", 128}, {"24C02", 256}, {"24C1024", 131072}}) {
        SCOPED_TRACE(type);
        const std::string t = type;
        {
            std::ofstream image(file("random.bin"), std::ios::binary);
            std::mt19937 rng(size);
            for (int i = 0; i < size; ++i)
                image.put(static_cast<char>(rng()));
        }
        // BIN in, HEX out, a blank chip, HEX in, BIN out: the same bytes at the end.
        ASSERT_EQ(cli("sim insert-eeprom " + t).status, 0);
        ASSERT_EQ(cli("eeprom program " + t + " " + file("random.bin")).status, 0);
        ASSERT_EQ(cli("eeprom read " + t + " " + file("read.hex")).status, 0);
        ASSERT_EQ(cli("sim insert-eeprom " + t).status, 0);
        ASSERT_EQ(cli("eeprom program " + t + " " + file("read.hex")).status, 0);
        EXPECT_EQ(cli("eeprom verify " + t + " " + file("random.bin")).status, 0);
        ASSERT_EQ(cli("eeprom read " + t + " " + file("read.bin")).status, 0);
        EXPECT_EQ(run("cmp " + file("random.bin") + " " + file("read.bin")).status, 0);
        // Above 64 KiB the HEX file goes on after an extended linear address record.
        EXPECT_EQ(run("grep -q :020000040001F9 " + file("read.hex")).status, size > 65536 ? 0 : 1);
    }
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

TEST_F(Cli, TheAvrTimingKeyIsSetShownAndKeptWithTheBoard)
{
    ASSERT_EQ(cli("sim insert-avr ATmega103").status, 0);
    EXPECT_NE(cli("sim show").out.find("avr.timing=slowest\n"), std::string::npos);
    ASSERT_EQ(cli("sim insert-avr ATmega103 --set avr.timing=fastest").status, 0);
    EXPECT_NE(cli("sim show").out.find("avr.timing=fastest\n"), std::string::npos);
}

TEST_F(Cli, EachChangedBitIsListedOnStandardErrorBeforeTheQuestion)
{
    ASSERT_EQ(cli("sim insert-avr ATtiny12").status, 0); // fuse D2
    Result r = cli("avr program-fuses BODEN=0 CKSEL2=1", true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "CKSEL2 0 -> 1\nBODEN 1 -> 0\n") << r.out;
    r = cli("avr program-fuses BODEN=0 CKSEL2=1");
    EXPECT_LT(r.out.find("BODEN 1 -> 0"), r.out.find("Program Fuse Bits: Are you sure?")) << r.out;
    EXPECT_NE(cli("sim show").out.find("avr.fuse.low=D2\n"), std::string::npos);
    EXPECT_EQ(cli("--yes avr program-fuses BODEN=0 CKSEL2=1").status, 0);
    EXPECT_NE(cli("sim show").out.find("avr.fuse.low=96\n"), std::string::npos);
    // Lock bits the same way; nothing to change writes nothing and asks nothing.
    r = cli("--yes avr program-lock LB1=0", true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "LB1 1 -> 0\n");
    r = cli("avr program-lock LB1=0");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "OK: Lock Bits set !!\n");
}

TEST_F(Cli, ABitThatEndsSerialProgrammingNeedsAllowLockoutAndThenLocksTheChipOut)
{
    for (const char* bit : {"RSTDISBL=0", "SPIEN=1"}) {
        ASSERT_EQ(cli("sim insert-avr ATtiny12").status, 0);
        Result r = cli(std::string("--yes avr program-fuses ") + bit);
        EXPECT_EQ(r.status, 1) << bit;
        EXPECT_NE(r.out.find(std::string(bit) + " ends serial programming"), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("--allow-lockout"), std::string::npos) << r.out;
        // --allow-lockout alone does not answer the warning.
        EXPECT_EQ(cli(std::string("--allow-lockout avr program-fuses ") + bit).status, 1);
        EXPECT_NE(cli("sim show").out.find("avr.fuse.low=D2\n"), std::string::npos) << bit;

        r = cli(std::string("--yes --allow-lockout avr program-fuses ") + bit);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("WARNING: Warning !!!"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("OK: Fuse Bits set !!"), std::string::npos) << r.out;
        r = cli("avr identify");
        EXPECT_EQ(r.status, 1) << bit;
        EXPECT_NE(r.out.find("ERROR: Processor not detected!!!"), std::string::npos) << r.out;
        // Only a new chip in the socket brings the board back.
        ASSERT_EQ(cli("sim insert-avr ATtiny12").status, 0);
        EXPECT_EQ(cli("avr identify").status, 0) << bit;
    }
}

TEST_F(Cli, TheDesktopProgramStartsOffscreenAndStaysUp)
{
    const Result r = run("QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" + dir.path().toStdString() +
                         " timeout 3 " VARDEL_APP " --port sim:" + board() + " --virtual-time");
    EXPECT_EQ(r.status, 124) << r.out; // still running when the timeout ended it
}
