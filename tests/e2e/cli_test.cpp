#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

struct Result {
    int status;
    std::string out;
};

// Runs a command through the shell and keeps what it printed (standard output and error, or
// standard error alone).
Result capture(const std::string& shellLine)
{
    Result r{-1, {}};
    FILE* p = ::popen(shellLine.c_str(), "r");
    if (!p)
        return r;
    std::array<char, 4096> buf{};
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p))
        r.out.append(buf.data(), n);
    const int raw = ::pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

Result run(const std::string& command, bool stderrOnly = false)
{
    return capture(command + (stderrOnly ? " 2>&1 >/dev/null" : " 2>&1"));
}

// Runs a command through the shell and keeps its standard output and standard error apart.
struct Streams {
    int status;
    std::string out;
    std::string err;
};
Streams runApart(const std::string& command, const std::string& errFile)
{
    const Result r = capture(command + " 2>" + errFile);
    std::ifstream in(errFile, std::ios::binary);
    std::stringstream err;
    err << in.rdbuf();
    return {r.status, r.out, err.str()};
}

// vardel-cli on a simulated board kept in a folder of the test's own, on the virtual clock, with
// a settings store of its own.
class Cli : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string board() const { return dir.path().toStdString() + "/board"; }
    std::string file(const char* name) const { return dir.path().toStdString() + "/" + name; }
    std::string command(const std::string& args) const
    {
        return "XDG_CONFIG_HOME=" + dir.path().toStdString() +
               " " VARDEL_CLI " --port sim:" + board() + " --virtual-time " + args;
    }
    Result cli(const std::string& args, bool stderrOnly = false) const
    {
        return run(command(args), stderrOnly);
    }
    Streams apart(const std::string& args) const
    {
        return runApart(command(args), dir.path().toStdString() + "/stderr.txt");
    }
};

std::string readAll(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every file and folder under the folder, with each file's content.
std::map<std::string, std::string> snapshot(const std::string& folder)
{
    std::map<std::string, std::string> result;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        result[entry.path().string()] =
            entry.is_directory() ? std::string("<folder>") : readAll(entry.path().string());
    return result;
}

bool haveTool(const char* tool)
{
    return run(std::string("command -v ") + tool + " >/dev/null").status == 0;
}

} // namespace

TEST_F(Cli, CheckPassesOnTheSimulatedBoard)
{
    const Result r = cli("check");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "OK: Corvid respond correct!!!\n"
                     "Status register after SDA written high: 0x47 (SDA reads high)\n"
                     "Status register after SDA written low: 0xC7 (SDA reads low)\n"
                     "SDA followed: it read high when written high and low when written low.\n");
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
    ASSERT_EQ(cli("sim remove avr").status, 0);
    EXPECT_EQ(cli("sim show").out, "eeprom=24C32\navr=none\n");
    Result r = cli("eeprom program 24C32 " + file("image.bin"));
    EXPECT_EQ(r.status, 0) << r.out;
    Streams s = apart("eeprom verify 24c32 " + file("image.bin"));
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, "VERIFICATION COMPLETE: Weryfikacja chipu przebiegła prawidłowo!!!\n");
    EXPECT_EQ(s.err, "24C32: 4096 bytes verified\n");
    EXPECT_EQ(apart("--quiet eeprom verify 24c32 " + file("image.bin")).err, "");

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
    s = apart("eeprom verify 24C32 " + file("image.bin"));
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.out, "VERIFICATION ERROR: Defference found at byte no.: 300\n"
                     "0x012C: chip 41, file 00\n1 bytes differ\n");
    EXPECT_EQ(s.err, "");
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
    ASSERT_EQ(cli("sim remove eeprom").status, 0);
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
    // The read ends with the master's missing acknowledge, then STOP.
    const Result warnings = run("sigrok-cli -i " + file("read.vcd") +
                                " -P i2c:scl=scl:sda=sda,eeprom24xx:chip=onsemi_cat24c256"
                                " -A eeprom24xx=warnings");
    EXPECT_EQ(warnings.out, "") << warnings.out.substr(0, 2000);
}

TEST_F(Cli, TheReadmesSigrokCommandsRunAsWrittenOnTheTracesBeforeThem)
{
    if (!haveTool("sigrok-cli"))
        GTEST_SKIP() << "sigrok-cli is not installed";
    const std::string readme = readAll(README_FILE);
    const auto from = readme.find("## Watching the lines");
    ASSERT_NE(from, std::string::npos);
    std::istringstream section(readme.substr(from, readme.find("\n## ", from + 1) - from));
    int decoded = 0;
    for (std::string line; std::getline(section, line);) {
        const bool ours = line.rfind("    vardel-cli ", 0) == 0;
        if (!ours && line.rfind("    sigrok-cli ", 0) != 0)
            continue;
        std::string command = line.substr(4);
        if (ours)
            command = "XDG_CONFIG_HOME=" + dir.path().toStdString() + " " VARDEL_CLI +
                      std::regex_replace(command.substr(10), std::regex("/tmp/board"), board());
        const Result r = run("cd " + dir.path().toStdString() + " && " + command);
        EXPECT_EQ(r.status, 0) << line << "\n" << r.out.substr(0, 2000);
        if (ours)
            continue;
        ++decoded;
        // The decoder that is shown printed something, and none failed (sigrok-cli exits 0
        // after a decoder's exception).
        std::smatch shown;
        ASSERT_TRUE(std::regex_search(line, shown, std::regex("-A ([a-z0-9_]+)"))) << line;
        EXPECT_NE(r.out.find(shown[1].str() + "-1: "), std::string::npos) << line << "\n"
                                                                          << r.out.substr(0, 2000);
        EXPECT_EQ(r.out.find("Traceback"), std::string::npos) << line << "\n"
                                                              << r.out.substr(0, 2000);
        EXPECT_EQ(r.out.find("failed"), std::string::npos) << line;
    }
    EXPECT_GE(decoded, 7);
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
    // Its presets set every fuse byte.
    const std::pair<const char*, const char*> presets[] = {
        {"low-frequency", "avr.fuse.extended=FF\navr.fuse.high=D1\navr.fuse.low=E0\n"},
        {"high-frequency", "avr.fuse.extended=FF\navr.fuse.high=D1\navr.fuse.low=CF\n"},
        {"factory-default", "avr.fuse.extended=FD\navr.fuse.high=99\navr.fuse.low=E1\n"}};
    for (const auto& [preset, bytes] : presets) {
        EXPECT_EQ(cli(std::string("--yes avr program-fuses --preset ") + preset).status, 0);
        EXPECT_NE(cli("sim show").out.find(bytes), std::string::npos) << preset;
    }

    // An ATtiny12 locked with LB1 alone shows as locked.
    ASSERT_EQ(cli("sim insert-avr ATtiny12 --set avr.lock=FD").status, 0);
    r = cli("avr read-lock");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("LB1=0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LB2=1"), std::string::npos) << r.out;
}

// The factory-default preset of every part with fuses comes from its data: on a fresh chip it
// changes nothing, the USB parts keeping their crystal and HWBE as they ship.
TEST_F(Cli, TheFactoryDefaultPresetLeavesAFreshChipAsItIs)
{
    for (const char* part :
         {"ATmega163", "ATmega161", "ATtiny12", "AT90S2323", "AT90S8535", "ATmega103", "ATmega32U4",
          "ATmega16U4", "ATmega16U2", "ATtiny2313A"}) {
        SCOPED_TRACE(part);
        ASSERT_EQ(cli(std::string("sim insert-avr ") + part).status, 0);
        const std::string before = cli("sim show").out;
        const Result r = cli("--yes avr program-fuses --preset factory-default");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out.find(" -> "), std::string::npos) << r.out;
        EXPECT_EQ(cli("sim show").out, before);
    }
    ASSERT_EQ(cli("sim insert-avr ATmega32U4").status, 0);
    EXPECT_NE(cli("sim show").out.find("avr.fuse.extended=F3\n"), std::string::npos);
}

// The AT90S parts' fuse read gives SPIEN beside their one fuse: shown, and out of a write's reach.
TEST_F(Cli, TheAt90sFuseReadShowsSpien)
{
    for (const char* part : {"AT90S2323", "AT90S8535"}) {
        ASSERT_EQ(cli(std::string("sim insert-avr ") + part).status, 0);
        EXPECT_EQ(cli("avr read-fuses").out, "FSTRT=1\nSPIEN=0\n") << part;
        const Result r = cli("--yes avr program-fuses SPIEN=1");
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.out.find("SPIEN cannot be changed on"), std::string::npos) << r.out;
    }
}

// Parts that answer one signature with other fuse bits identify as all of them; --part (or the
// project's part) names the one in the socket, and a lock or fuse command waits for it.
TEST_F(Cli, ASignatureOfSeveralPartsIsAChoice)
{
    ASSERT_EQ(cli("sim insert-avr AT90PWM2B").status, 0);
    EXPECT_EQ(cli("avr identify").out, "AT90PWM1, AT90PWM2B or AT90PWM3B (8kb flash)\n");
    struct Case {
        const char* command;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"avr read-fuses", 2, "name the one in the socket with --part"},
        {"--part nonsense avr identify", 2, "--part nonsense names no AVR part"},
        {"--part ATmega8 avr identify", 1,
         "(signature 1E 93 83, AT90PWM1, AT90PWM2B or "
         "AT90PWM3B) is not the ATmega8."},
        {"--part at90pwm2b --yes avr program-fuses PSC1RB=0", 0, "OK: Fuse Bits set !!"},
        {"--part AT90PWM2B avr read-fuses", 0, "PSC1RB=0"},
    };
    for (const Case& c : cases) {
        const Result r = cli(c.command);
        EXPECT_EQ(r.status, c.status) << c.command << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.command << "\n" << r.out;
    }
    ASSERT_EQ(cli("sim insert-avr AT90PWM3B").status, 0);
    std::ofstream(file("pwm.vardel")) << "socket = avr\npart = AT90PWM3B\nfuses = PSC1RB=0\n";
    EXPECT_EQ(cli("--yes auto " + file("pwm.vardel")).status, 0);
    EXPECT_NE(cli("--part AT90PWM3B avr read-fuses").out.find("PSC1RB=0"), std::string::npos);
    // Two names of one chip are no choice.
    ASSERT_EQ(cli("sim insert-avr ATmega8A").status, 0);
    EXPECT_EQ(cli("avr identify").out, "ATmega8 (8kb flash)\n");
}

// A bit that ends serial programming is known by what it does, whatever the part names it: the
// AT90USB162's RSTDSBL is refused without --allow-lockout, and with it the chip stops answering.
TEST_F(Cli, AResetDisableBitOfAnyNameNeedsTheLockoutAllowance)
{
    ASSERT_EQ(cli("sim insert-avr AT90USB162").status, 0);
    Result r = cli("--yes avr program-fuses RSTDSBL=0");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("refused without --allow-lockout"), std::string::npos) << r.out;
    EXPECT_EQ(cli("avr identify").status, 0);
    r = cli("--yes --allow-lockout avr program-fuses RSTDSBL=0");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(cli("avr identify").status, 0);
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
    EXPECT_EQ(r.out.rfind("CKSEL2 0 -> 1\nBODEN 1 -> 0\n", 0), 0u) << r.out;
    r = cli("avr program-fuses BODEN=0 CKSEL2=1");
    EXPECT_LT(r.out.find("BODEN 1 -> 0"), r.out.find("Program Fuse Bits: Are you sure?")) << r.out;
    EXPECT_NE(cli("sim show").out.find("avr.fuse.low=D2\n"), std::string::npos);
    EXPECT_EQ(cli("--yes avr program-fuses BODEN=0 CKSEL2=1").status, 0);
    EXPECT_NE(cli("sim show").out.find("avr.fuse.low=96\n"), std::string::npos);
    // Lock bits the same way; nothing to change writes nothing and asks nothing.
    Streams s = apart("--yes avr program-lock LB1=0");
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err.rfind("LB1 1 -> 0\n", 0), 0u) << s.err;
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

TEST_F(Cli, TheFirstRunOfANewBoardReadsAGreetingAndIdentifiesAnATmega128)
{
    const Result r = cli("eeprom read 24C256 " + file("first.bin"));
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string greeting = "Hello from the 24C256 on Vardel's simulated board!\n";
    EXPECT_EQ(readAll(file("first.bin")), greeting + std::string(32768 - greeting.size(), '\xFF'));
    EXPECT_EQ(cli("avr identify").out, "ATmega128 (128kb flash)\n");
    EXPECT_NE(cli("sim show").out.find("avr.fuse.high=99\n"), std::string::npos);
}

TEST_F(Cli, TwoProcessesOnOneFolderTakeTurnsAndNoChangeIsLost)
{
    ASSERT_EQ(cli("sim show").status, 0);
    {
        std::ofstream image(file("image.bin"), std::ios::binary);
        for (int i = 0; i < 2048; ++i)
            image.put(static_cast<char>(i * 7 + 3));
    }
    const char* types[] = {"24C16", "24C04", "24C08", "24C16", "24C04", "24C08"};
    const char* high[] = {"89", "99"};
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        // Both start at once, and each rewrites board.ini with its own change.
        const std::string fuses =
            command(std::string("--yes avr program-fuses CKOPT=") + (round % 2 ? "1" : "0"));
        const std::string insert =
            command(std::string("sim insert-eeprom ") + types[round] + " " + file("image.bin"));
        run("(" + fuses + " >" + file("a.out") + " 2>&1; echo $? >" + file("a.status") + ") & (" +
            insert + " >" + file("b.out") + " 2>&1; echo $? >" + file("b.status") + ") & wait");
        const std::string show = cli("sim show").out;
        for (const char* run : {"a", "b"}) {
            const std::string status = readAll(file((std::string(run) + ".status").c_str()));
            const std::string out = readAll(file((std::string(run) + ".out").c_str()));
            if (status == "0\n") {
                const bool fusesRun = run[0] == 'a';
                EXPECT_NE(show.find(fusesRun ? std::string("avr.fuse.high=") + high[round % 2]
                                             : std::string("eeprom=") + types[round]),
                          std::string::npos)
                    << show;
            } else {
                // The other one kept the folder for longer than the wait.
                EXPECT_EQ(status, "1\n") << out;
                EXPECT_NE(out.find("Another program is using the simulated board in " + board()),
                          std::string::npos)
                    << out;
            }
        }
    }
    EXPECT_EQ(cli("sim export eeprom " + file("export.bin")).status, 0);
    EXPECT_EQ(readAll(file("export.bin")), readAll(file("image.bin")).substr(0, 1024));
}

TEST_F(Cli, ADamagedFolderIsReportedByNameAndLeftAsItWas)
{
    namespace fs = std::filesystem;
    auto write = [](const std::string& name, const std::string& text) {
        std::ofstream(name, std::ios::binary | std::ios::trunc) << text;
    };
    struct Case {
        const char* file;
        const char* message;
        std::function<void(const std::string&)> damage;
    };
    const std::vector<Case> cases{
        {"board.ini", " is a folder",
         [](const std::string& d) {
             fs::remove(d + "/board.ini");
             fs::create_directory(d + "/board.ini");
         }},
        {"board.ini", ", line 2: \"not a board\" is not key=value",
         [&](const std::string& d) {
             write(d + "/board.ini", "eeprom=24C256\nnot a board\n");
         }},
        {"board.ini", ", line 1: \"??ELF??\" is not key=value",
         [&](const std::string& d) {
             write(d + "/board.ini", std::string("\0\x7F"
                                                 "ELF\x01\x02",
                                                 7));
         }},
        {"board.ini", ", line 1: there is no key \"eprom\"",
         [&](const std::string& d) {
             write(d + "/board.ini", "eprom=24C256\n");
         }},
        {"board.ini", ", line 3: The value of avr.fuse.high must be two hex digits",
         [&](const std::string& d) {
             write(d + "/board.ini", "eeprom=24C256\navr=ATmega128\navr.fuse.high=9\n");
         }},
        {"board.ini", ", line 2: avr.lock is a key of the chip in the AVR socket",
         [&](const std::string& d) {
             write(d + "/board.ini", "eeprom=24C256\navr.lock=FF\n");
         }},
        // A chip file under its own name without board.ini: what an older version's save left.
        {"board.ini", " is missing, but the folder holds eeprom.bin",
         [](const std::string& d) {
             fs::remove(d + "/board.ini");
             fs::rename(d + "/eeprom-1.bin", d + "/eeprom.bin");
         }},
        {"eeprom-1.bin", " is missing; it keeps the memory of the 24C256",
         [](const std::string& d) {
             fs::remove(d + "/eeprom-1.bin");
         }},
        {"eeprom-1.bin", " is a folder",
         [](const std::string& d) {
             fs::remove(d + "/eeprom-1.bin");
             fs::create_directory(d + "/eeprom-1.bin");
         }},
        {"flash-1.bin", " holds 100 bytes, but the flash of ATmega128 has 131072",
         [](const std::string& d) {
             fs::resize_file(d + "/flash-1.bin", 100);
         }},
        {"board.ini", ", line 1: no chip in the sockets keeps a memory in flash.bin",
         [&](const std::string& d) {
             write(d + "/board.ini", "file.flash.bin=flash-1.bin\n");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        fs::remove_all(board());
        ASSERT_EQ(cli("sim show").status, 0);
        c.damage(board());
        const auto before = snapshot(board());
        for (const char* args : {"sim show", "sim remove eeprom", "eeprom read 24C256 x.bin"}) {
            const Result r = cli(args);
            EXPECT_EQ(r.status, 1) << args;
            EXPECT_EQ(r.out.rfind("ERROR: " + board() + "/" + c.file + c.message, 0), 0u) << r.out;
        }
        EXPECT_EQ(snapshot(board()), before);
    }
}

namespace {

// The levels the lines driven from the data register end at in a VCD trace (sda and miso, which
// the chips drive too, left out): "vcc=0 scl=0 ...".
std::string FinalOutputs(const std::string& vcd)
{
    std::ifstream in(vcd);
    std::map<char, char> level;
    for (std::string line; std::getline(in, line);)
        if (line.size() == 2 && (line[0] == '0' || line[0] == '1'))
            level[line[1]] = line[0];
    std::string text;
    for (const auto& [id, name] : {std::pair{'!', "vcc"},
                                   {'"', "scl"},
                                   {'$', "xtal"},
                                   {'%', "reset"},
                                   {'&', "mosi"},
                                   {'\'', "sck"}})
        text += std::string(text.empty() ? "" : " ") + name + "=" + level[id];
    return text;
}

const char* kAllLow = "vcc=0 scl=0 xtal=0 reset=0 mosi=0 sck=0";

} // namespace

TEST_F(Cli, APortThatStopsAnsweringEndsEveryCommandWithItsErrorAndTheLinesLow)
{
    for (const auto& [name, size] : {std::pair{"eeprom.bin", 4096}, {"flash.bin", 2048}}) {
        std::ofstream image(file(name), std::ios::binary);
        for (int i = 0; i < size; ++i)
            image.put(static_cast<char>(i * 7 + 3));
    }
    // Each command fails some way into its byte loop; reads would replace "kept".
    for (const std::string command :
         {"eeprom read 24C32 out.bin", "eeprom program 24C32 eeprom.bin",
          "eeprom verify 24C32 eeprom.bin", "avr read-flash out.bin", "avr program-flash flash.bin",
          "avr verify-flash flash.bin"}) {
        SCOPED_TRACE(command);
        ASSERT_EQ(cli("sim insert-eeprom 24C32 " + file("eeprom.bin")).status, 0);
        ASSERT_EQ(cli("sim insert-avr AT90S2313 --flash " + file("flash.bin")).status, 0);
        std::ofstream(file("out.bin")) << "kept";
        const bool eeprom = command.rfind("eeprom", 0) == 0;
        const Result r =
            cli(std::string("--sim-port-fails-after ") + (eeprom ? "20000" : "200000") +
                ":reads --trace " + file("fail.vcd") + " " +
                std::regex_replace(command, std::regex("\\w+\\.bin"), file("$&")));
        EXPECT_EQ(r.status, 1);
        const std::string expected =
            std::string("ERROR: ") + (eeprom ? "" : "Atmel communication error...\n") +
            "Port error on the simulated board: the port does not answer a status read any "
            "more.\nThe operation was stopped.\n" +
            (command.find("program") == std::string::npos ? ""
             : eeprom ? "vardel-cli: the chip may be partly written\n"
                      : "The flash is erased and partly written (up to 0x002D).\n");
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(FinalOutputs(file("fail.vcd")), kAllLow);
        std::ifstream out(file("out.bin"));
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(out), {}), "kept");
    }
}

TEST_F(Cli, LinesStayAsSetAndCheckShowsTheStatusRegister)
{
    // With the AVR socket empty MISO floats high.
    const Streams s = apart("--trace " + file("lines.vcd") + " lines vcc=1 sck=1 reset=1");
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, "VCC=1 SCK=1 MOSI=0 RESET=1 XTAL=0\nMISO=1\n");
    EXPECT_EQ(s.err, "The lines stay as set until the next command drives the port.\n");
    EXPECT_EQ(FinalOutputs(file("lines.vcd")), "vcc=1 scl=0 xtal=0 reset=1 mosi=0 sck=1");
    EXPECT_EQ(cli("lines vcc=2").status, 2);
    EXPECT_EQ(cli("lines gnd=1").status, 2);

    // Any other command still ends with every line low.
    ASSERT_EQ(cli("--trace " + file("check.vcd") + " check").status, 0);
    EXPECT_EQ(FinalOutputs(file("check.vcd")), kAllLow);
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
        // What a failed build or download leaves: no image at all, whatever the ending.
        {write("empty.hex", ""), "empty.hex is empty (0 bytes)"},
        {write("empty.bin", ""), "empty.bin is empty (0 bytes)"},
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
    std::ofstream(file("part.hex")) << ":0201FF00AABB99\n:00000001FF\n";
    const Streams s = apart("avr program-eeprom " + file("part.hex"));
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err, "WARNING: File contains 1 bytes outside this memory, the first at $0200:\n"
                     "They will be left out\n"
                     "ATmega163: 512 bytes of EEPROM programmed, not verified\n");
    // Without its end record the file may be a download stopped early: it is said so.
    std::ofstream(file("cut.hex")) << ":0201FE00AABB9A\n";
    const Streams cut = apart("avr program-eeprom " + file("cut.hex"));
    EXPECT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(cut.err.rfind("WARNING: " + file("cut.hex") +
                                " has no end record: the file may be cut short\n",
                            0),
              0u)
        << cut.err;
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
    std::ofstream(file("empty.bin")).flush();
    r = run(VARDEL_CLI " convert " + file("empty.bin") + " " + file("empty.hex"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "ERROR: " + file("empty.bin") + " is empty (0 bytes): it holds no image\n");
    // Nothing was written, no temporary either: only the three inputs are there.
    const std::filesystem::directory_iterator entries(dir.path().toStdString());
    EXPECT_EQ(std::distance(std::filesystem::begin(entries), std::filesystem::end(entries)), 3);

    // A name that is not UTF-8 reaches the system unchanged, in both programs.
    std::ofstream(file("blink.hex")) << ":0400000001020304F2\n";
    const std::string latin1 = file("\xe9.bin");
    EXPECT_EQ(run(VARDEL_CLI " convert " + file("blink.hex") + " '" + latin1 + "'").status, 0);
    EXPECT_TRUE(std::filesystem::exists(latin1));
    ASSERT_EQ(cli("sim insert-eeprom 24C04 '" + latin1 + "'").status, 0);
    EXPECT_EQ(cli("sim export eeprom '" + file("\xe9\xe9.bin") + "'").status, 0);
    EXPECT_TRUE(std::filesystem::exists(file("\xe9\xe9.bin")));
}

TEST_F(Cli, ResultsGoToStandardOutputAndAFailedWriteFailsTheRun)
{
    ASSERT_EQ(cli("sim insert-avr ATtiny12").status, 0);
    // Results alone on standard output; everything else on standard error.
    Streams s = apart("avr read-fuses");
    EXPECT_EQ(s.status, 0);
    EXPECT_NE(s.out.find("BODEN=1\n"), std::string::npos) << s.out;
    EXPECT_EQ(s.err, "");
    ASSERT_EQ(cli("sim remove avr").status, 0);
    s = apart("avr read-fuses");
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.out, "");
    EXPECT_NE(s.err.find("ERROR: Processor not detected!!!"), std::string::npos) << s.err;

    ASSERT_EQ(cli("sim insert-avr ATtiny12").status, 0);
    for (const std::string args : {"avr read-fuses >/dev/full", "sim show >/dev/full",
                                   "--trace /dev/full check", "--trace /dev/full avr identify"}) {
        SCOPED_TRACE(args);
        s = apart(args);
        EXPECT_EQ(s.status, 1);
        EXPECT_NE(s.err.find(args.rfind("--trace", 0) == 0
                                 ? "ERROR: Can't write trace file /dev/full"
                                 : "ERROR: cannot write the results to standard output"),
                  std::string::npos)
            << s.err;
    }
}

TEST_F(Cli, EveryArgumentIsCheckedBeforeThePortAndUsageErrorsExitWith2)
{
    const std::string samples = SAMPLES_DIR;
    ASSERT_EQ(cli("sim insert-avr AT90S2313").status, 0);
    const struct {
        std::string args;
        const char* message;
    } cases[] = {
        {"eeprom read 24C04 " + file("out.txt"), "the file name must end in BIN or HEX"},
        {"avr read-flash " + file("out.txt"), "the file name must end in BIN or HEX"},
        {"eeprom read 24C99 " + file("out.bin"), "unknown EEPROM type '24C99'"},
        {"sim insert-eeprom 24C99", "24C99"},
        {"sim insert-avr foo", "foo"},
        {"sim remove", "usage: sim remove eeprom|avr"},
        {"avr program-fuses CKSEL0=0 cksel0=1", "cksel0 is named twice"},
        {"--port '' check", "--port is empty"},
        {"--port direct:0x64 check", "0x64 belongs to another device of the machine"},
        {"--port direct:0 check", "direct:0 is not a parallel port's base address"},
        {"avr program-fuses FOO=0", "FOO is the name of no lock or fuse bit"},
        {"eeprom read 24C04 " + file("none/out.bin"), "there is no folder"},
        {"sim export flash " + file("out.txt"), "the file name must end in BIN or HEX"},
        {"flash read " + file("out.txt"), "the file name must end in BIN or HEX"},
        {"flash verify --verify " + file("in.bin"), "usage: flash identify"},
        {"flash identify now", "usage: flash identify"},
        {"flash write " + file("in.bin"), "unknown flash command 'write'"},
        {"sim insert-flash W25Q99", "There is no SPI flash of part \"W25Q99\""},
        {"sim insert-flash W25Q64 --set flash.status=03", "flash.status takes SR1"},
        {"sim insert-flash W25Q64 --set flash.id=EF40", "flash.id takes the JEDEC ID"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const Streams s = apart("--trace " + file("t.vcd") + " " + c.args);
        EXPECT_EQ(s.status, 2);
        EXPECT_NE(s.err.find(c.message), std::string::npos) << s.err;
        // No line moved: nothing but the header went into the trace.
        EXPECT_EQ(readAll(file("t.vcd")).find("\n#"), std::string::npos) << c.args;
        EXPECT_FALSE(std::filesystem::exists(file("out.txt")));
    }
    // The one case that needs the chip: the AT90S2313 cannot read its lock bits, so a lock
    // bit set in an earlier run cannot be taken back either.
    EXPECT_EQ(cli("--yes avr program-lock LB1=0").status, 0);
    const Streams s = apart("--trace " + file("t.vcd") + " --yes avr program-lock LB1=1");
    EXPECT_EQ(s.status, 2);
    EXPECT_EQ(FinalOutputs(file("t.vcd")), kAllLow);
    EXPECT_NE(s.err.find("only a chip erase (avr erase) clears the lock bits"), std::string::npos);
    EXPECT_EQ(s.err.find("OK"), std::string::npos) << s.err;

    // The help shows the program's own options; there are no Qt options to show more of.
    Streams help = apart("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("eeprom read|program|verify"), std::string::npos);
    EXPECT_EQ(help.out.find("--help-all"), std::string::npos);
    EXPECT_EQ(apart("--help-all").status, 2);
    help = runApart(VARDEL_CLI " --port ppdev:/dev/zero check", file("stderr.txt"));
    EXPECT_EQ(help.status, 1);
    EXPECT_NE(help.err.find("/dev/zero is not a parallel port"), std::string::npos) << help.err;
    EXPECT_EQ(help.err.find("rmmod"), std::string::npos) << help.err;
}

TEST_F(Cli, AnIdentificationThatFindsNoAvrNamesWhatItRead)
{
    for (const char* signature : {"FFFFFF", "000000"}) {
        ASSERT_EQ(cli(std::string("sim insert-avr --signature ") + signature).status, 0);
        for (const char* command : {"avr identify", "avr read-fuses", "avr read-flash x.bin"}) {
            SCOPED_TRACE(command);
            const Streams s = apart(command);
            EXPECT_EQ(s.status, 1);
            EXPECT_EQ(s.out, "");
            EXPECT_EQ(s.err, std::string("ERROR: no AVR answered: signature ") + signature[0] +
                                 signature[1] + " " + signature[2] + signature[3] + " " +
                                 signature[4] + signature[5] + "\n");
        }
    }
}

TEST_F(Cli, AVerifyListsTheFirstSixteenDifferencesAndCountsThemAll)
{
    std::string image(512, '\0');
    for (int i = 0; i < 512; ++i)
        image[i] = static_cast<char>(i * 5 + 1);
    std::ofstream(file("image.bin"), std::ios::binary) << image;
    ASSERT_EQ(cli("sim insert-eeprom 24C04 " + file("image.bin")).status, 0);
    ASSERT_EQ(cli("sim insert-avr AT90S2313 --eeprom " + file("image.bin")).status, 0);
    std::string changed = image;
    for (int i = 100; i < 120; ++i)
        changed[i] = '\x3F';
    std::ofstream(file("changed.bin"), std::ios::binary) << changed;
    std::string expected;
    for (int i = 100; i < 116; ++i) {
        char line[40];
        std::snprintf(line, sizeof line, "0x%04X: chip %02X, file 3F\n", i, (i * 5 + 1) & 0xFF);
        expected += line;
    }
    expected += "20 bytes differ\n";
    Streams s = apart("eeprom verify 24C04 " + file("changed.bin"));
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.out, "VERIFICATION ERROR: Defference found at byte no.: 100\n" + expected);
    // The AT90S2313's EEPROM holds 128 bytes: the file's first 128 are compared.
    s = apart("--trace " + file("verify.vcd") + " avr verify-eeprom " + file("changed.bin"));
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.out,
              "End verification: VERIFICATION: ERROR (Difference at byte: $0064)\n" + expected)
        << s.err;
    // The list comes from the verify's own read: the chip is read once, not again.
    ASSERT_EQ(cli("--trace " + file("read.vcd") + " avr read-eeprom " + file("r.bin")).status, 0);
    EXPECT_LT(readAll(file("verify.vcd")).size(), readAll(file("read.vcd")).size() * 3 / 2);
}

// On the real-time clock, each stop signal arrives in the middle of the operation.
TEST_F(Cli, AStopSignalEndsTheOperationWithTheLinesLowAndSaysWhatWasLeft)
{
    std::string image(32768, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7 + 3);
    std::ofstream(file("image.bin"), std::ios::binary) << image;
    ASSERT_EQ(cli("sim insert-eeprom 24C256").status, 0);
    const struct {
        const char* signal;
        std::string command;
        const char* message;
        // A stop that comes before the flash's erase cancels it.
        const char* before = nullptr;
    } cases[] = {
        {"TERM", "eeprom program 24C256 " + file("image.bin"),
         "WARNING: Operation stopped: the chip may be partly written.\n"},
        {"HUP", "avr program-flash " + file("image.bin"),
         "WARNING: Operation stopped: the chip may be partly written.\n",
         "WARNING: Operation stopped before the first write: nothing was written.\n"},
        {"INT", "eeprom read 24C256 " + file("out.bin"),
         "WARNING: Operation stopped: no file was written.\n"},
        {"TERM", "avr read-flash " + file("out.hex"),
         "WARNING: Operation stopped: no file was written.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const std::string trace = file("run.vcd");
        std::filesystem::remove(trace);
        // Waits for the trace to pass its header (the signal handlers are in place by then).
        const Result r = run("XDG_CONFIG_HOME=" + dir.path().toStdString() +
                             " " VARDEL_CLI " --port sim:" + board() + " --trace " + trace + " " +
                             c.command + " 2>" + file("err.txt") +
                             " & pid=$!; while kill -0 $pid 2>/dev/null "
                             "&& [ \"$(stat -c %s " +
                             trace +
                             " 2>/dev/null || echo 0)\" -lt "
                             "30000 ]; do :; done; kill -" +
                             c.signal + " $pid; wait $pid");
        EXPECT_EQ(r.status, 1);
        const std::string err = readAll(file("err.txt"));
        const std::string stopped = std::string("vardel-cli: stopped by SIG") + c.signal + "\n";
        EXPECT_TRUE(err == c.message + stopped || (c.before && err == c.before + stopped)) << err;
        EXPECT_EQ(FinalOutputs(trace), kAllLow);
        EXPECT_FALSE(std::filesystem::exists(file("out.bin")));
        EXPECT_FALSE(std::filesystem::exists(file("out.hex")));
        // No temporary left behind either: only the image, the board, the trace and the errors.
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path().toStdString()))
            names.insert(entry.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"VARDEL.ini", "board", "err.txt", "image.bin",
                                                "run.vcd"}));
    }
}

// The completion offers what the program accepts, from the program's own tables. Each line is
// typed into an interactive bash and completed with TAB, so that the words reach the completion as
// bash splits them (at ':' among others).
TEST(Completion, OffersCommandsTypesDevicesAndBitNames)
{
    const char* library = "/usr/share/bash-completion/bash_completion";
    if (!std::filesystem::exists(library))
        GTEST_SKIP() << "bash-completion is not installed";
    const std::string folder = std::filesystem::path(VARDEL_CLI).parent_path().string();
    const std::string offered = testing::TempDir() + "offered.txt";
    const std::pair<std::string, std::string> cases[] = {
        {"e", "eeprom\n"},
        {"eeprom read 24c2", "24C256\n"},
        {"eeprom program 93c46", "93C46X16\n93C46X8\n"}, // any case, as the program takes them
        {"sim insert-eeprom 25256 --set ", "eeprom.maker=\neeprom.status=\n"},
        {"sim insert-eeprom 93c46x8 --set ", "eeprom.eral=\n"},
        {"--port sim:x sim re", "remove\n"},
        {"--port sim:/tmp/b eeprom re", "read\n"},
        {"--port ppdev:/dev/parport0 avr ide", "identify\n"},
        {"--port direct:0x378 --yes avr program-lock LB", "LB1=\nLB2=\n"},
        {"--port dir", "direct:\ndirect:0x378\n"},
        {"--port direct:0", "0x378\n"},
        {"sim insert-avr AT90S2",
         "AT90S2313\nAT90S2323\nAT90S2333\nAT90S2343\n"}, // the catalogue's and the part table's
        {"avr program-fuses CKSEL", "CKSEL0=\nCKSEL1=\nCKSEL2=\nCKSEL3=\nCKSEL_SUT0=\nCKSEL_SUT1=\n"
                                    "CKSEL_SUT2=\nCKSEL_SUT3=\nCKSEL_SUT4=\nCKSEL_SUT5=\n"},
        {"avr program-lock LB1=", "LB1=0\nLB1=1\n"},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        std::filesystem::remove(offered);
        const std::string script = std::string("PATH=") + folder + ":$PATH; source " + library +
                                   "; source " VARDEL_COMPLETION
                                   "\n_probe() { _vardel_cli \"$@\"; printf '%s\\n' "
                                   "\"${COMPREPLY[@]}\" | sort >" +
                                   offered + "; }; complete -F _probe vardel-cli\n" +
                                   "vardel-cli " + line + "\t\x15\nexit\n";
        std::ofstream(testing::TempDir() + "typed.txt") << script;
        capture("bash --norc --noprofile -i <" + testing::TempDir() + "typed.txt >/dev/null 2>&1");
        EXPECT_EQ(readAll(offered), expected);
    }
}

TEST_F(Cli, TheTraceOfAnATmega88IdentificationAndFlashReadDecodesAsAvrSerialProgramming)
{
    if (!haveTool("sigrok-cli"))
        GTEST_SKIP() << "sigrok-cli is not installed";
    ASSERT_EQ(cli("sim insert-avr ATmega88").status, 0);
    {
        std::ofstream image(file("image.bin"), std::ios::binary);
        image << "vardel";
    }
    ASSERT_EQ(cli("avr program-flash " + file("image.bin")).status, 0);
    const std::string trace = file("read.vcd");
    ASSERT_EQ(cli("--trace " + trace + " avr read-flash " + file("read.bin")).status, 0);
    const Result decoded = run("sigrok-cli -i " + trace +
                               " -P spi:clk=sck:mosi=mosi:miso=miso,avr_isp -A avr_isp | head -12");
    ASSERT_EQ(decoded.status, 0) << decoded.out;
    // The decoder names the part, reads the fuses that tell its clock (after which the trace runs
    // at the pace of its 1 MHz oscillator), and shows the flash reads (which it does not decode)
    // with the chip's answers: "va" of the image in words 0, "rd" in word 1.
    const std::vector<std::string> expected{
        "avr_isp-1: Programming enable",
        "avr_isp-1: Vendor code: 0x1e (Atmel)",
        "avr_isp-1: Part family / memory size: 0x93",
        "avr_isp-1: Part number: 0x0a",
        "avr_isp-1: Device: Atmel ATmega88",
        "avr_isp-1: Read fuse bits: 0x62",
        "avr_isp-1: Read fuse high bits: 0xdf",
        "avr_isp-1: Read extended fuse bits: 0xf9",
        "avr_isp-1: Unknown command: 20 00 00 00 (reply: 00 20 00 76)!",
        "avr_isp-1: Unknown command: 28 00 00 00 (reply: 00 28 00 61)!",
        "avr_isp-1: Unknown command: 20 00 01 00 (reply: 00 20 00 72)!",
        "avr_isp-1: Unknown command: 28 00 01 00 (reply: 00 28 00 64)!"};
    std::istringstream lines(decoded.out);
    std::vector<std::string> events;
    for (std::string line; std::getline(lines, line);)
        events.push_back(line);
    EXPECT_EQ(events, expected) << decoded.out;
}

TEST_F(Cli, PartsOfThePartTableFromTheCommandLine)
{
    const Result parts = run(VARDEL_CLI " avr parts");
    ASSERT_EQ(parts.status, 0);
    EXPECT_GE(std::count(parts.out.begin(), parts.out.end(), '\n'), 150);
    EXPECT_NE(parts.out.find("\nATmega328P   1E950F   32768  1024  128\n"), std::string::npos)
        << parts.out;

    ASSERT_EQ(cli("sim insert-avr ATtiny85").status, 0);
    Result r = cli("avr identify");
    EXPECT_EQ(r.out, "ATtiny85 (8kb flash)\n");
    // On the real clock too: the chip runs on its own 1 MHz oscillator, and the simulated port
    // takes the time a real one does, so the SCK phases are long enough for it.
    r = run(command("avr identify").replace(command("").find(" --virtual-time"), 15, ""));
    EXPECT_EQ(r.out, "ATtiny85 (8kb flash)\n");
    r = cli("avr read-eeprom " + file("e.bin"));
    EXPECT_EQ(r.out, "ATtiny85: 512 bytes of EEPROM read into " + file("e.bin") + "\n");
    r = cli("--yes avr program-fuses CKDIV8=1 EESAVE=0");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("CKDIV8 0 -> 1\nEESAVE 1 -> 0\n"), std::string::npos) << r.out;
    r = cli("sim show");
    EXPECT_NE(r.out.find("avr.fuse.high=D7\navr.fuse.low=E2\n"), std::string::npos) << r.out;
    r = cli("--yes avr program-fuses RSTDISBL=0");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("refused without --allow-lockout"), std::string::npos) << r.out;
    r = cli("avr program-fuses CKDIV9=1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("CKDIV9 is the name of no lock or fuse bit"), std::string::npos) << r.out;
    r = cli("avr read-lock");
    EXPECT_EQ(r.out, "LB1=1\nLB2=1\n");

    // A locked chip's EEPROM is not written, and the lock mode is named; a lock bit is taken
    // back by the erase alone, a usage error as on the catalogue's parts.
    ASSERT_EQ(cli("--yes avr program-lock LB1=0 LB2=0").status, 0);
    std::ofstream(file("three.bin"), std::ios::binary) << "\x01\x02\x03";
    r = cli("avr program-eeprom " + file("three.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: The lock bits forbid programming the EEPROM: the chip is in "
                         "lock mode 3 (LB1 and LB2 programmed)."),
              std::string::npos)
        << r.out;
    r = cli("--yes avr program-lock LB1=1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("cannot unprogram lock bit LB1: only a chip erase"), std::string::npos)
        << r.out;

    // Every name the list gives is a chip the simulated board takes.
    ASSERT_EQ(cli("sim insert-avr ATmega128A").status, 0);
    EXPECT_EQ(cli("avr identify").out, "ATmega128 (128kb flash)\n");
}

// A save stopped anywhere (killed before or after each file it writes, or failing on a file size
// limit at each of the chip files in turn) leaves the folder as it was before or as it is after,
// never a mix; the next command works, sees one or the other, and leaves only the files that
// board.ini names.
// Whether the shell forks for the command (status 137) or execs it (a death by signal, -1 from
// capture) depends on the shell and the command line.
bool killed(int status)
{
    return status == -1 || status == 128 + SIGKILL;
}

TEST_F(Cli, AStoppedSaveLeavesTheFolderAsItWasOrAsItIs)
{
    ASSERT_EQ(cli("sim show").status, 0);
    const std::string before = cli("sim show").out;
    {
        std::ofstream image(file("big.bin"), std::ios::binary);
        for (int i = 0; i < 131072; ++i)
            image.put(static_cast<char>(i * 13 + 5));
    }
    const std::string insert = "sim insert-eeprom 24C1024 " + file("big.bin");
    // A new folder's first save writes three memories and board.ini.
    // The shell reports the kill as 128 + 9.
    for (int written = 0; written <= 4; ++written) {
        SCOPED_TRACE(written);
        const std::string fresh = file("fresh");
        std::filesystem::remove_all(fresh);
        const std::string start = VARDEL_CLI " --virtual-time --port sim:" + fresh + " ";
        EXPECT_TRUE(
            killed(run(start + "--sim-save-killed-after " + std::to_string(written) + " sim show")
                       .status));
        EXPECT_EQ(run(start + "sim show").out, before);
    }
    // A change to one chip writes its memory and board.ini.
    for (int written = 0; written <= 2; ++written) {
        SCOPED_TRACE(written);
        EXPECT_TRUE(killed(
            cli("--sim-save-killed-after " + std::to_string(written) + " " + insert).status));
        const std::string now = cli("sim show").out;
        EXPECT_EQ(now.find("eeprom=24C1024") != std::string::npos, written == 2) << now;
        EXPECT_EQ(now.find("eeprom=24C256") != std::string::npos, written < 2) << now;
    }
    // A file size limit in 1 KiB blocks stops a first save at the AVR's 4 KiB EEPROM, the
    // 24C256's 32 KiB or the 128 KiB flash; a limit on the 24C1024's memory stops a change.
    for (const int blocks : {0, 8, 64}) {
        SCOPED_TRACE(blocks);
        const std::string fresh = file("fresh");
        std::filesystem::remove_all(fresh);
        const std::string start = VARDEL_CLI " --virtual-time --port sim:" + fresh + " ";
        const std::string limit = "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; ";
        const Result stopped = run("bash -c \"" + limit + start + "sim show\"");
        EXPECT_EQ(stopped.status, 1) << stopped.out;
        EXPECT_NE(stopped.out.find("ERROR: Can't write " + fresh), std::string::npos)
            << stopped.out;
        EXPECT_EQ(run(start + "sim show").out, before);
        EXPECT_EQ(run("bash -c \"" + limit + command("sim insert-eeprom 24C1024") + "\"").status,
                  1);
        EXPECT_EQ(cli("eeprom verify 24C1024 " + file("big.bin")).status, 0);
    }
    ASSERT_EQ(cli("sim insert-eeprom 24C1024").status, 0);
    ASSERT_EQ(cli(insert).status, 0);
    ASSERT_EQ(cli("eeprom verify 24C1024 " + file("big.bin")).status, 0);
    // Only the files board.ini names are left.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(board()))
        names.insert(entry.path().filename().string());
    const std::string ini = readAll(board() + "/board.ini");
    for (const std::string& name : names)
        EXPECT_TRUE(name == "board.ini" || ini.find("=" + name + "\n") != std::string::npos)
            << name << " beside\n"
            << ini;
    EXPECT_EQ(names.size(), 4u);
}

// A usage error exits 2 before anything is touched: a folder held by another process is not
// waited for, a folder that does not exist is not created, and no trace file is made.
TEST_F(Cli, UsageErrorsTouchNoFolderPortOrTraceFile)
{
    ASSERT_EQ(cli("sim show").status, 0);
    std::filesystem::create_directory(file("dir.bin"));
    std::filesystem::create_symlink(file("nowhere/x.bin"), file("dangling.bin"));
    std::filesystem::create_symlink("/dev/null", file("null.bin"));
    std::ofstream(file("fw.txt")) << "text";
    const struct {
        std::string args;
        const char* message;
    } cases[] = {
        {"eeprom read 24C99 x.bin", "unknown EEPROM type '24C99'"},
        {"bogus", "unknown command 'bogus'"},
        {"--port ppdevx check", "Unknown port 'ppdevx'"},
        {"--port direct:0x378x check", "Invalid port address '0x378x'"},
        {"--port ppdev:/dev/null check", "--virtual-time is for the simulated board"},
        {"lines vcc=1 vcc=0", "vcc is named twice"},
        {"--trace '' check", "--trace is empty"},
        {"sim insert-eeprom 24C02 " + file("fw.txt"), "the file name must end in BIN or HEX"},
        {"sim insert-avr ATmega128 --flash " + file("fw.txt"), "must end in BIN or HEX"},
        {"eeprom read 24C04 " + file("dir.bin"), "dir.bin' is a folder"},
        {"avr read-flash " + file("dangling.bin"), "dangling.bin' is a link to nowhere"},
        {"sim export flash " + file("null.bin"), "null.bin' is not a plain file"},
        {"- - -- x", "unknown command '-'"},
        {"auto " + file("fw.txt"),
         "auto takes a project file (.vardel), a one-image HEX file or an ELF"},
        {"auto p.vardel --count 0", "--count takes a number from 1 up"},
        {"avr read-flash x.bin --verify", "usage: avr"},
        {"avr program-eeprom x.bin --verify --verify", "usage: avr"},
        {"eeprom read 24C02 x.bin --verify", "usage: eeprom"},
    };
    // Another process (this one) holds the board's folder for as long as the table runs.
    const int held = ::open(board().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    for (const auto& c : cases) {
        for (const std::string& folder : {board(), file("new")}) {
            SCOPED_TRACE(c.args + " on " + folder);
            const Streams s = runApart(VARDEL_CLI " --virtual-time --port sim:" + folder +
                                           " --trace " + file("t.vcd") + " " + c.args,
                                       file("err.txt"));
            EXPECT_EQ(s.status, 2);
            EXPECT_NE(s.err.find(c.message), std::string::npos) << s.err;
            EXPECT_FALSE(std::filesystem::exists(file("t.vcd")));
            EXPECT_FALSE(std::filesystem::exists(file("new")));
        }
    }
    ::close(held);
    // A trace into a FIFO that nobody reads is refused at once, naming it.
    ASSERT_EQ(run("mkfifo " + file("t.fifo")).status, 0);
    const Result fifo = cli("--trace " + file("t.fifo") + " check");
    EXPECT_EQ(fifo.status, 1);
    EXPECT_NE(fifo.out.find(file("t.fifo") + ": it is a FIFO that no program reads"),
              std::string::npos)
        << fifo.out;
}

TEST_F(Cli, AutoWritesAWholeProgramImageIntoAFreshChip)
{
    const std::string image = SAMPLES_DIR "/blink-atmega328p-all.hex";
    ASSERT_EQ(cli("sim insert-avr ATmega328P").status, 0);
    // The fuse and lock writes are confirmed as program-fuses confirms them.
    Result r = cli("auto " + image);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("add --yes"), std::string::npos) << r.out;

    r = cli("--yes auto " + image + " --log " + file("one.csv"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ATmega328P: programmed and verified"), std::string::npos) << r.out;
    EXPECT_NE(readAll(file("one.csv")).find(",blink-atmega328p-all.hex,ATmega328P,1E 95 0F,,"),
              std::string::npos);
    EXPECT_NE(readAll(file("one.csv")).find(",E2 D9 FD,FE,ok,"), std::string::npos);
    r = cli("sim show");
    EXPECT_NE(r.out.find("avr.fuse.extended=FD\navr.fuse.high=D9\navr.fuse.low=E2\navr.lock=FE\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(cli("avr verify-flash " + image).status, 0);
    ASSERT_EQ(cli("sim export avr-eeprom " + file("ee.bin")).status, 0);
    std::string expected("hello from the EEPROM", 22);
    expected.resize(1024, '\xFF');
    EXPECT_EQ(readAll(file("ee.bin")), expected);

    // Fuse bytes that would program RSTDISBL: refused before anything is written.
    std::string text = readAll(image);
    const auto at = text.find(":03000000E2D9FD45");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 17, ":03000000E259FDC5");
    std::ofstream(file("reset-off.hex"), std::ios::binary) << text;
    ASSERT_EQ(cli("sim insert-avr ATmega328P").status, 0);
    r = cli("--yes auto " + file("reset-off.hex"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("RSTDISBL=0 ends serial programming"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Nothing was written"), std::string::npos) << r.out;
    EXPECT_EQ(cli("avr blank-test").status, 0);
    EXPECT_NE(cli("sim show").out.find("avr.fuse.high=D9\navr.fuse.low=62\n"), std::string::npos);
}

// A whole-program HEX named as a project's flash is taken whole, and an image built for another
// part (its .signature, 0F 95 1E at 0x840000 for the ATmega328P) goes into no other chip.
TEST_F(Cli, AWholeProgramImageIsTakenWholeAndOnlyForItsOwnPart)
{
    std::string text = readAll(SAMPLES_DIR "/blink-atmega328p-all.hex");
    text.insert(text.rfind(":00000001FF"), ":02000004008476\n:030000000F951E3B\n");
    std::ofstream(file("sig.hex"), std::ios::binary) << text;
    // avr-gcc's ELF output of a program with initialised data, and avr-objcopy's HEX of it.
    const std::string elf = ELF_DIR "/blink-data-atmega328p.elf";
    const struct {
        const char* part;    // in the socket
        const char* project; // null: the image on its own
        const char* command;
        bool elf;
        int status;
        const char* says;
    } cases[] = {
        {"ATmega328P", "ATmega328P", "auto", false, 0, "programmed and verified"},
        {"ATmega328P", nullptr, "auto", false, 0, "programmed and verified"},
        {"ATmega168", nullptr, "auto", false, 1,
         "the image was built for the ATmega328P (signature 1E 95 0F); the chip in the socket "
         "is the ATmega168"},
        {"ATmega168", "ATmega168", "auto", false, 1,
         "line 3: the image was built for the ATmega328P (signature 1E 95 0F), not for the "
         "project's ATmega168"},
        {"ATmega328P", nullptr, "avr program-flash", false, 0, "programmed and verified"},
        {"ATmega328P", "ATmega328P", "auto", true, 0, "programmed and verified"},
        {"ATmega328P", nullptr, "avr program-flash", true, 0, "programmed and verified"},
        {"ATmega168", nullptr, "avr program-flash", true, 1,
         "the chip in the socket is the "
         "ATmega168"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.part) + " " + (c.project ? c.project : c.command) +
                     (c.elf ? " ELF" : ""));
        ASSERT_EQ(cli(std::string("sim insert-avr ") + c.part).status, 0);
        const std::string image = c.elf ? elf : file("sig.hex");
        std::ofstream(file("all.vardel")) << "socket = avr\npart = " << (c.project ? c.project : "")
                                          << "\nflash = " << image << "\n";
        const Result r =
            cli(std::string("--yes ") + c.command + " " + (c.project ? file("all.vardel") : image));
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
        const std::string show = cli("sim show").out;
        // The EEPROM text, the fuses and the lock byte came with the flash, or nothing did.
        EXPECT_EQ(show.find("avr.fuse.high=D9\navr.fuse.low=E2\navr.lock=FE") != std::string::npos,
                  c.status == 0)
            << show;
        if (c.status == 0) {
            ASSERT_EQ(cli("sim export avr-eeprom " + file("ee.bin")).status, 0);
            EXPECT_EQ(readAll(file("ee.bin")).substr(0, 21), "hello from the EEPROM");
            // The ELF program's code and its .data after it, as its HEX has them.
            if (c.elf) {
                EXPECT_EQ(cli("avr verify-flash " ELF_DIR "/blink-data-atmega328p.hex").status, 0);
            }
        } else {
            EXPECT_EQ(cli("avr blank-test").status, 0);
        }
    }
}

// --verify verifies in the same job; a plain program keeps its read-back of each write.
TEST_F(Cli, ProgramWithVerifyChecksEveryByteOnce)
{
    const std::string image = SAMPLES_DIR "/blink-atmega163.hex";
    for (const char* words : {"program-flash --verify ", "program-eeprom --verify "}) {
        SCOPED_TRACE(words);
        ASSERT_EQ(cli("sim insert-avr ATmega163").status, 0);
        const bool flash = std::string(words).starts_with("program-flash");
        const std::string file =
            flash ? image : std::string(SAMPLES_DIR "/blink-atmega163-eeprom.hex");
        const Result r = cli("avr " + std::string(words) + file);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("Verification complete: VERIFICATION: OK !!!!!"), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find(flash ? "16384 bytes of flash programmed and verified"
                                   : "512 bytes of EEPROM programmed and verified"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(
            cli(std::string("avr ") + (flash ? "verify-flash " : "verify-eeprom ") + file).status,
            0);
    }
}

TEST_F(Cli, AutoWritesTheFusesAndLockBitsOfEveryPartByName)
{
    struct Case {
        const char* part;
        const char* bits; // project lines
        int status;
        const char* check; // vardel-cli command afterwards, and what it prints
        const char* shows;
    };
    const Case cases[] = {
        {"ATmega163", "fuses = BODEN=0 CKSEL3=1\nlock = LB1=0\n", 0, "avr read-fuses",
         "BODLEVEL=1\nBODEN=0\nCKSEL3=1\n"},
        {"ATmega163", "fuses = BODEN=0 CKSEL3=1\nlock = LB1=0\n", 0, "avr read-lock", "LB1=0"},
        {"ATmega128", "fuses = CKOPT=0\n", 0, "avr read-fuses", "CKOPT=0"},
        {"ATtiny12", "fuses = rstdisbl=0\n", 1, "avr read-fuses", "RSTDISBL=1"},
        {"AT90S2313", "lock = LB2=0 LB1=0\n", 0, "sim show", "avr.lock=F9"},
        {"ATmega328P", "fuses = CKDIV8=1\nlock = LB1=0\n", 0, "avr read-lock", "LB1=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.part) + " " + c.bits);
        ASSERT_EQ(cli(std::string("sim insert-avr ") + c.part).status, 0);
        std::ofstream(file("bits.vardel")) << "socket = avr\npart = " << c.part << "\n" << c.bits;
        const Result r = cli("--yes auto " + file("bits.vardel"));
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_NE(cli(c.check).out.find(c.shows), std::string::npos);
    }
}

// The bytes of a catalogue part set its bits; a bit its write cannot reach is taken only in the
// state a chip that answers serial programming holds it in.
TEST_F(Cli, AutoWritesTheFuseAndLockBytesOfTheCatalogueParts)
{
    static const char* kHex128 = ":02000004008278\n:03000000E199FD86\n:02000004008377\n"
                                 ":01000000FC03\n:00000001FF\n";
    struct Case {
        const char* part;
        const char* bits; // project lines, or a one-image HEX
        int status;
        std::string says;  // in the Auto run's output
        const char* check; // vardel-cli command afterwards, and what it prints
        const char* shows;
    };
    const Case cases[] = {
        {"ATmega128", "fuse.high = 0x89\nlock = LB1=0\n", 0, "programmed", "sim show",
         "avr.fuse.high=89\n"},
        {"ATmega128", "fuse.high = 0xB9\n", 1,
         "SPIEN=1, which serial programming cannot change on the ATmega128", "sim show",
         "avr.fuse.high=99\n"},
        {"ATmega128", "fuse.low = 0xE0\nfuse.extended = 0xFE\n", 0, "programmed", "sim show",
         "avr.fuse.extended=FE\navr.fuse.high=99\navr.fuse.low=E0\n"},
        // A one-image HEX: fuses E1 99 FD at 0x820000, lock byte FC at 0x830000.
        {"ATmega128", kHex128, 0, "programmed", "avr read-lock", "BLB01=1\nLB2=0\nLB1=0\n"},
        {"ATmega163", "fuse.low = 0xDE\nfuse.high = 0xFA\n", 0, "programmed", "avr read-fuses",
         "BOOTSZ1=0\nBOOTSZ0=1\nBOOTRST=0\nBODLEVEL=1\nBODEN=1\nCKSEL3=1\nCKSEL2=1\nCKSEL1=1\n"
         "CKSEL0=0\n"},
        {"ATmega163", "fuse.low = 0xFE\n", 1, "SPIEN=1", "avr read-fuses", "CKSEL2=0"},
        // A bit the part does not have (bit 4) is ignored, and said; the others go as given.
        {"ATmega163", "fuse.low = 0xC2\n", 0,
         "NOTE: " + file("bytes.vardel") +
             ": fuse.low C2 programs bit 4, which the ATmega163 "
             "does not have: ignored",
         "avr read-fuses", "BODLEVEL=1\nBODEN=1\nCKSEL3=0\nCKSEL2=0\nCKSEL1=1\nCKSEL0=0\n"},
        // Arduino's extended fuse for the Leonardo: HWBE and BODLEVEL as given.
        {"ATmega32U4", "fuse.extended = 0xCB\n", 0,
         "fuse.extended CB programs bits 5, 4, which the ATmega32U4 does not have: ignored",
         "avr read-fuses", "BODLEVEL0=1\nBODLEVEL1=1\nBODLEVEL2=0\nHWBE=1\n"},
        {"ATmega103", "fuse.low = 0xD6\n", 0, "programmed", "avr read-fuses",
         "EESAVE=0\nSPIEN=0\nSUT1=1\nSUT0=0\n"},
        {"ATtiny12", "fuse.low = 0xF2\n", 1, "SPIEN=1 ends serial programming", "avr read-fuses",
         "SPIEN=0"},
        {"AT90S8535", "fuse.low = 0xDE\n", 0, "programmed", "avr read-fuses", "FSTRT=0"},
        // Bits by name follow the same rules.
        {"ATmega128", "fuses = SPIEN=1\n", 1,
         "the project sets SPIEN=1, which serial programming cannot change", "sim show",
         "avr.fuse.high=99\n"},
        // Refused when the project is read, before the chip is erased.
        {"AT90S8535", "lock = LB2=0\n", 1, "line 3: the AT90S8535 takes LB2 only together with LB1",
         "avr read-lock", "LB2=1\nLB1=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.part) + " " + c.bits);
        ASSERT_EQ(cli(std::string("sim insert-avr ") + c.part).status, 0);
        const bool hex = c.bits[0] == ':';
        const std::string job = file(hex ? "bytes.hex" : "bytes.vardel");
        std::ofstream(job) << (hex ? "" : "socket = avr\npart = " + std::string(c.part) + "\n")
                           << c.bits;
        const Result r = cli("--yes auto " + job);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
        const Result check = cli(c.check);
        EXPECT_NE(check.out.find(c.shows), std::string::npos) << check.out;
    }
}

TEST_F(Cli, AutoGivesEachChipTheNextSerialNumberAndLogsIt)
{
    std::ofstream(file("board.vardel"))
        << "# the blinker, numbered from 1001\n"
           "socket = avr\npart = ATmega328P\n"
           "flash = " SAMPLES_DIR "/blink-atmega328p-all.hex\n"
           "serial.memory = eeprom\nserial.address = 0x20\nserial.length = 4\n"
           "serial.format = big-endian\n"
           "serial.next = 1001 # advanced by each chip\n"
           "log = runs.csv\n";
    // The image's EEPROM text (22 bytes), fuses and lock byte come with it; the number goes
    // after the text.
    auto serialAt20 = [this] {
        cli("sim export avr-eeprom " + file("ee.bin"));
        return readAll(file("ee.bin")).substr(0x20, 4);
    };
    ASSERT_EQ(cli("sim insert-avr ATmega328P").status, 0);
    Result r = cli("--yes auto " + file("board.vardel"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(serialAt20(), std::string("\0\0\x03\xE9", 4));
    EXPECT_EQ(cli("avr verify-flash " SAMPLES_DIR "/blink-atmega328p-all.hex").status, 0);
    // Two more: the simulated board puts a fresh chip in before the second.
    r = cli("--yes auto " + file("board.vardel") + " --count 2");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("chip 2 of 2: a fresh ATmega328P"), std::string::npos) << r.out;
    EXPECT_EQ(serialAt20(), std::string("\0\0\x03\xEB", 4));
    EXPECT_NE(readAll(file("board.vardel")).find("serial.next = 1004 # advanced by each chip\n"),
              std::string::npos);

    const std::string log = readAll(file("runs.csv"));
    // Each chip's start, then its end, with the station and the chip's place in its batch.
    const std::string time = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)";
    const std::string station = "\"[^,]+, sim:[^\"]+\"";
    const std::regex start("(" + time + "),board.vardel,,,(\\d+),,,,,started,0\\.000,started,," +
                           station + ",(\\d)\n");
    const std::regex line(
        "(" + time +
        "),board.vardel,ATmega328P,1E 95 0F,(\\d+),0x([0-9A-F]{8}),0x([0-9A-F]{8}),"
        "E2 D9 FD,FE,ok,\\d+\\.\\d{3},ok,," +
        station + ",(\\d)\n");
    std::istringstream lines(log);
    std::string header, entry;
    std::getline(lines, header);
    EXPECT_EQ(header, "time,project,part,signature,serial,flash_crc32,eeprom_crc32,fuses,lock,"
                      "outcome,duration_s,kind,reason,station,batch_index");
    std::set<std::string> eepromCrcs;
    for (const auto& [serial, index] : {std::pair{1001, 1}, {1002, 1}, {1003, 2}}) {
        std::smatch m;
        ASSERT_TRUE(std::getline(lines, entry)) << log;
        std::string withEnd = entry + "\n";
        ASSERT_TRUE(std::regex_match(withEnd, m, start)) << entry;
        EXPECT_EQ(m[3], std::to_string(serial));
        EXPECT_EQ(m[4], std::to_string(index));
        ASSERT_TRUE(std::getline(lines, entry)) << log;
        withEnd = entry + "\n";
        ASSERT_TRUE(std::regex_match(withEnd, m, line)) << entry;
        EXPECT_EQ(m[3], std::to_string(serial));
        EXPECT_EQ(m[6], std::to_string(index));
        eepromCrcs.insert(m[5]);
    }
    EXPECT_EQ(eepromCrcs.size(), 3u);
    EXPECT_FALSE(std::getline(lines, entry));
}

// calibration.address copies each chip's own oscillator calibration byte into its flash or
// EEPROM, beside the rest of the job; a place that cannot take it is refused before any chip.
TEST_F(Cli, AutoCopiesTheChipsCalibrationByte)
{
    const struct {
        const char* part;
        const char* lines; // besides socket and part
        const char* says;  // null: programmed, the byte 5C at `at` of `memory`
        const char* memory;
        std::size_t at;
    } cases[] = {
        {"ATmega328P", "calibration.memory = eeprom\ncalibration.address = 0x3FF\n", nullptr,
         "avr-eeprom", 0x3FF},
        {"ATmega163",
         "flash = " SAMPLES_DIR "/blink-atmega163.hex\ncalibration.memory = flash\n"
         "calibration.address = 0x3FFF\n",
         nullptr, "flash", 0x3FFF},
        {"AT90S8515", "calibration.memory = eeprom\ncalibration.address = 0\n",
         "line 4: the AT90S8515 has no oscillator calibration byte", nullptr, 0},
        {"ATmega328P", "calibration.memory = eeprom\ncalibration.address = 1024\n",
         "lies outside the ATmega328P's EEPROM (1024 bytes)", nullptr, 0},
        {"ATmega163",
         "flash = " SAMPLES_DIR "/blink-atmega163.hex\ncalibration.memory = flash\n"
         "calibration.address = 0\n",
         "would replace a byte of the image", nullptr, 0},
        {"ATmega328P",
         "calibration.memory = eeprom\ncalibration.address = 0x11\n"
         "serial.memory = eeprom\nserial.address = 0x10\nserial.length = 2\n"
         "serial.format = ascii\nserial.next = 12\n",
         "lies among the serial number's bytes", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.part) + " " + c.lines);
        ASSERT_EQ(cli(std::string("sim insert-avr ") + c.part +
                      (c.says ? "" : " --set avr.calibration=5C"))
                      .status,
                  0);
        std::ofstream(file("cal.vardel")) << "socket = avr\npart = " << c.part << "\n" << c.lines;
        const Result r = cli("auto " + file("cal.vardel"));
        if (c.says) {
            EXPECT_EQ(r.status, 1) << r.out;
            EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
            continue;
        }
        EXPECT_EQ(r.status, 0) << r.out;
        ASSERT_EQ(cli(std::string("sim export ") + c.memory + " " + file("m.bin")).status, 0);
        EXPECT_EQ(readAll(file("m.bin")).at(c.at), '\x5C');
    }
}

TEST_F(Cli, AutoStoppedByAPortFaultSpendsTheSerialNumberAndLogsTheStep)
{
    const std::string project = "socket = avr\npart = ATmega328P\nserial.memory = eeprom\n"
                                "serial.address = 0\nserial.length = 2\nserial.format = bcd\n"
                                "log = runs.csv\n";
    std::ofstream(file("p.vardel")) << project << "serial.next = 42\n";
    ASSERT_EQ(cli("sim insert-avr ATmega328P").status, 0);
    Result r = cli("--sim-port-fails-after 50000 auto " + file("p.vardel"));
    EXPECT_EQ(r.status, 1);
    // A serial number alone is its own two bytes, written without an erase; the fault comes in
    // the compare after them.
    EXPECT_NE(r.out.find("failed at the step \"verify eeprom\": the EEPROM is programmed"),
              std::string::npos)
        << r.out;
    // The chip may hold 42: the next one gets 43.
    EXPECT_EQ(readAll(file("p.vardel")), project + "serial.next = 43\n");
    const std::string log = readAll(file("runs.csv"));
    EXPECT_NE(log.find(",42,,"), std::string::npos) << log;
    EXPECT_NE(log.find(",verify eeprom,"), std::string::npos) << log;
    EXPECT_NE(log.find(",failed,Port error on the simulated board"), std::string::npos) << log;
    EXPECT_NE(log.find("serial number 42 spent"), std::string::npos) << log;

    // A number that does not fit is refused before the chip is touched, and logged.
    std::ofstream(file("p.vardel")) << project << "serial.next = 10000\n";
    ASSERT_EQ(cli("sim insert-avr ATmega328P --set avr.lock=FC").status, 0);
    r = cli("auto " + file("p.vardel"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("the serial number 10000 does not fit in 4 BCD digits"), std::string::npos)
        << r.out;
    EXPECT_NE(cli("sim show").out.find("avr.lock=FC"), std::string::npos);
    EXPECT_NE(readAll(file("runs.csv")).find(",10000,,,,,refused,"), std::string::npos);

    // A bit the part does not have is found when the project is read, with its line.
    std::ofstream(file("f.vardel")) << "socket = avr\npart = ATmega328P\nfuses = CKDIV9=1\n";
    r = cli("--yes auto " + file("f.vardel"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("f.vardel: line 3: CKDIV9 is not a fuse bit of the ATmega328P"),
              std::string::npos)
        << r.out;

    // An image larger than the chip is refused too: nothing of it would be the chip's.
    std::ofstream(file("big.bin"), std::ios::binary) << std::string(300, 'x');
    std::ofstream(file("e.vardel")) << "socket = eeprom\npart = 24C02\neeprom = big.bin\n";
    ASSERT_EQ(cli("sim insert-eeprom 24C02").status, 0);
    r = cli("auto " + file("e.vardel"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("the image holds 300 bytes, more than the 24C02's 256"), std::string::npos)
        << r.out;
    ASSERT_EQ(cli("sim export eeprom " + file("e.bin")).status, 0);
    EXPECT_EQ(readAll(file("e.bin")), std::string(256, '\xFF'));
}

TEST_F(Cli, AutoProgramsAndNumbersSpiAndMicrowireEeproms)
{
    // The serial number sits in the image's last two bytes, which the image leaves blank: the
    // last word of a x16 Microwire part, and the last bytes of a 25xx page.
    std::string image;
    for (int i = 0; i < 512; ++i)
        image.push_back(static_cast<char>(i * 5 + 3));
    std::ofstream(file("image.bin"), std::ios::binary) << image;
    std::ofstream(file("over.vardel"))
        << "socket = eeprom\npart = 25040\neeprom = image.bin\nserial.memory = eeprom\n"
           "serial.address = 0x1FE\nserial.length = 2\nserial.format = bcd\nserial.next = 7\n";
    ASSERT_EQ(cli("sim insert-eeprom 25040").status, 0);
    Result over = cli("auto " + file("over.vardel"));
    EXPECT_EQ(over.status, 1);
    EXPECT_NE(over.out.find("line 5: the serial number (2 bytes at 0x01FE) would replace bytes of "
                            "the image, the first at 0x01FE"),
              std::string::npos)
        << over.out;
    image.replace(0x1FE, 2, "\xFF\xFF");
    std::ofstream(file("image.bin"), std::ios::binary) << image;
    for (const char* type : {"25040", "93C66x16"}) {
        SCOPED_TRACE(type);
        const std::string head = std::string("socket = eeprom\npart = ") + type +
                                 "\neeprom = image.bin\nserial.memory = eeprom\n"
                                 "serial.address = 0x1FE\nserial.length = 2\n"
                                 "serial.format = little-endian\nlog = " +
                                 type + ".csv\n";
        std::ofstream(file("e.vardel")) << head << "serial.next = 0x1234\n";
        ASSERT_EQ(cli(std::string("sim insert-eeprom ") + type).status, 0);
        const Result r = cli("auto " + file("e.vardel") + " --count 2");
        EXPECT_EQ(r.status, 0) << r.out;
        ASSERT_EQ(cli("sim export eeprom " + file("e.bin")).status, 0);
        std::string expected = image;
        expected.replace(0x1FE, 2, "\x35\x12"); // the second chip's number, 0x1235
        EXPECT_EQ(readAll(file("e.bin")), expected);
        EXPECT_EQ(readAll(file("e.vardel")), head + "serial.next = 4662\n");
        const std::string log = readAll(file((std::string(type) + ".csv").c_str()));
        EXPECT_NE(log.find(std::string(",e.vardel,") + type + ",,4660,"), std::string::npos) << log;
        EXPECT_NE(log.find(std::string(",e.vardel,") + type + ",,4661,"), std::string::npos) << log;
        // The header, and each chip's start and end.
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;
        // blank-only: the programmed chip run again is refused and takes no number.
        std::ofstream(file("e.vardel")) << head << "serial.next = 4662\nblank-only = yes\n";
        const Result again = cli("auto " + file("e.vardel"));
        EXPECT_EQ(again.status, 1);
        EXPECT_NE(again.out.find("the chip is not blank: it holds 510 bytes that are not FF, the "
                                 "first at 0x0000"),
                  std::string::npos)
            << again.out;
        EXPECT_NE(readAll(file("e.vardel")).find("serial.next = 4662\n"), std::string::npos);
    }
}

// Two stations on one project, refusals that come before a port is opened, and a batch that goes
// on after a failed chip and ends with its counts.
TEST_F(Cli, AutoStationsShareOneProjectAndABatchEndsWithItsCounts)
{
    std::ofstream(file("p.vardel"))
        << "socket = avr\npart = ATmega328P\nserial.memory = eeprom\nserial.address = 0\n"
           "serial.length = 2\nserial.format = big-endian\nserial.next = 7000\nlog = runs.csv\n";
    const auto on = [this](const char* station, const std::string& args) {
        return "XDG_CONFIG_HOME=" + dir.path().toStdString() +
               " " VARDEL_CLI " --port sim:" + file(station) + " --virtual-time " + args;
    };
    const auto serialOf = [&](const char* station) {
        run(on(station, "sim export avr-eeprom " + file("ee.bin")));
        const std::string bytes = readAll(file("ee.bin"));
        return (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1]);
    };
    for (const char* station : {"s1", "s2"})
        ASSERT_EQ(run(on(station, "sim insert-avr ATmega328P")).status, 0);
    run("(" + on("s1", "auto " + file("p.vardel")) + " >" + file("s1.out") + " 2>&1) & (" +
        on("s2", "auto " + file("p.vardel")) + " >" + file("s2.out") + " 2>&1) & wait");
    // One waits for the other; one that waited longer than it may (a slow machine) names the
    // holder and is run again.
    for (const char* station : {"s1", "s2"}) {
        const std::string out = readAll(file((std::string(station) + ".out").c_str()));
        if (out.find("is in use by") != std::string::npos) {
            EXPECT_NE(out.find("(process "), std::string::npos) << out;
            EXPECT_EQ(run(on(station, "auto " + file("p.vardel"))).status, 0);
        }
    }
    EXPECT_EQ((std::set<int>{serialOf("s1"), serialOf("s2")}), (std::set<int>{7000, 7001}))
        << readAll(file("s1.out")) << readAll(file("s2.out"));
    EXPECT_NE(readAll(file("p.vardel")).find("serial.next = 7002\n"), std::string::npos);

    // Refused before any port is opened: the station's board folder is never made.
    std::ofstream(file("f.vardel")) << "socket = avr\npart = ATmega328P\nfuses = CKDIV8=1\n";
    const struct {
        std::string args;
        int status;
        const char* says;
    } refusals[] = {
        {"auto " + file("p.vardel") + " --log /no/such/dir/x.csv", 1,
         "the log /no/such/dir/x.csv cannot be written"},
        {"auto " + file("f.vardel"), 2, "writes fuse or lock bits"},
    };
    for (const auto& r : refusals) {
        const Result result = run(on("never", r.args));
        EXPECT_EQ(result.status, r.status) << result.out;
        EXPECT_NE(result.out.find(r.says), std::string::npos) << result.out;
        EXPECT_FALSE(std::filesystem::exists(file("never"))) << r.args;
    }

    // The first chip is another part: with --keep-going the fresh ones after it are programmed.
    for (const bool keepGoing : {false, true}) {
        ASSERT_EQ(run(on("s1", "sim insert-avr ATtiny85")).status, 0);
        const Result r = run(on("s1", "auto " + file("p.vardel") + " --count 3" +
                                          (keepGoing ? " --keep-going" : "")));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(keepGoing ? "Batch: 2 good, 1 failed, 0 refused, 0 not started"
                                       : "Batch: 0 good, 1 failed, 0 refused, 2 not started"),
                  std::string::npos)
            << r.out;
    }
    // The chip that failed at its identification took no number.
    EXPECT_NE(readAll(file("p.vardel")).find("serial.next = 7004\n"), std::string::npos);
}

TEST_F(Cli, A25xxOnTheAvrSocketIsKeptInTheFolderAndRefusedWhileProtected)
{
    {
        std::ofstream image(file("image.bin"), std::ios::binary);
        for (int i = 0; i < 32768; ++i)
            image.put(static_cast<char>(i * 7 + (i >> 8)));
    }
    ASSERT_EQ(cli("sim insert-eeprom 25256 --set eeprom.status=8C").status, 0);
    EXPECT_EQ(cli("sim show").out,
              "eeprom=25256\navr=none\neeprom.maker=microchip\neeprom.status=8C\n");
    EXPECT_NE(readAll(board() + "/board.ini").find("eeprom.status=8C"), std::string::npos);
    // With --verify, a refused write is told as one and nothing is compared.
    Result r = cli("eeprom program --verify 25256 " + file("image.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("differ"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ERROR: The 25256 is write-protected from 0x0000 to 0x7FFF"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("--clear-protection"), std::string::npos) << r.out;
    ASSERT_EQ(cli("sim export eeprom " + file("chip.bin")).status, 0);
    EXPECT_EQ(readAll(file("chip.bin")), std::string(32768, '\xFF'));
    r = cli("--clear-protection eeprom program --verify 25256 " + file("image.bin"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("25256: 32768 bytes programmed and verified"), std::string::npos) << r.out;
    ASSERT_EQ(cli("sim export eeprom " + file("chip.bin")).status, 0);
    EXPECT_EQ(readAll(file("chip.bin")), readAll(file("image.bin")));
    EXPECT_EQ(cli("sim show").out,
              "eeprom=25256\navr=none\neeprom.maker=microchip\neeprom.status=80\n");
    // Auto takes the same word: --yes alone does not clear the protection.
    std::ofstream(file("p.vardel")) << "socket = eeprom\npart = 25256\neeprom = image.bin\n";
    for (const auto& [words, status] :
         {std::pair<std::string, int>{"--yes auto ", 1}, {"--clear-protection auto ", 0}}) {
        ASSERT_EQ(cli("sim insert-eeprom 25256 --set eeprom.status=8C").status, 0);
        r = cli(words + file("p.vardel"));
        EXPECT_EQ(r.status, status) << r.out;
        EXPECT_EQ(cli("sim show").out.find("eeprom.status=8C") == std::string::npos, status == 0);
    }
    // A key the chip does not have, or an AVR key beside it, is a usage error or a folder error.
    EXPECT_EQ(cli("sim insert-eeprom 24C256 --set eeprom.status=00").status, 2);
    EXPECT_EQ(cli("sim insert-eeprom 93C46x8 --set eeprom.status=00").status, 2);
    {
        std::ofstream ini(board() + "/board.ini", std::ios::app);
        ini << "avr.lock=FF\n";
    }
    r = cli("sim show");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("the 25256 sits in the AVR socket"), std::string::npos) << r.out;
}

TEST_F(Cli, TheTracesOfA25xxPageWriteAndA93CxxReadDecodeClean)
{
    if (!haveTool("sigrok-cli"))
        GTEST_SKIP() << "sigrok-cli is not installed";
    {
        std::ofstream image(file("image.bin"), std::ios::binary);
        for (int i = 0; i < 32768; ++i)
            image.put(static_cast<char>(0x30 + i % 64));
    }
    ASSERT_EQ(cli("sim insert-eeprom 25256").status, 0);
    ASSERT_EQ(cli("--trace " + file("w.vcd") + " eeprom program 25256 " + file("image.bin")).status,
              0);
    // One decode of the whole trace: the bytes on MOSI, the decoders' warnings, the 25xx commands.
    Result decoded = run("sigrok-cli -i " + file("w.vcd") +
                         " -P spi:clk=sck:mosi=mosi:miso=miso:cs=reset,spiflash"
                         " -A spi=mosi-data:warnings,spiflash");
    ASSERT_EQ(decoded.status, 0) << decoded.out.substr(0, 2000);
    EXPECT_EQ(decoded.out.find("arning"), std::string::npos);
    EXPECT_EQ(decoded.out.find("deasserted during"), std::string::npos);
    // RDSR, then WREN, RDSR and WRITE of the first page at 0000 with its 64 bytes.
    std::string expected = "05 00 06 05 00 02 00 00";
    for (int i = 0; i < 64; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", 0x30 + i);
        expected += hex;
    }
    std::string bytes;
    std::istringstream lines(decoded.out);
    for (std::string line; std::getline(lines, line) && bytes.size() < expected.size();)
        if (line.rfind("spi-1: ", 0) == 0)
            bytes += (bytes.empty() ? "" : " ") + line.substr(7);
    EXPECT_EQ(bytes, expected);
    // spiflash takes three address bytes: the 25256's two and the first data byte.
    EXPECT_NE(decoded.out.find("spiflash-1: Command: Write enable (WREN)"), std::string::npos);
    EXPECT_NE(decoded.out.find("Page program (addr 0x000030, 63 bytes): 31 32"), std::string::npos);

    ASSERT_EQ(cli("sim insert-eeprom 93C46x16 " + file("image.bin")).status, 0);
    ASSERT_EQ(cli("--trace " + file("r.vcd") + " eeprom read 93C46x16 " + file("r.bin")).status, 0);
    decoded = run("sigrok-cli -i " + file("r.vcd") +
                  " -P microwire:cs=reset:sk=sck:si=mosi:so=miso,"
                  "eeprom93xx:addresssize=6:wordsize=16 -A eeprom93xx");
    ASSERT_EQ(decoded.status, 0) << decoded.out;
    const std::string words = "eeprom93xx-1: Read word\neeprom93xx-1: Address: 0x0000\n"
                              "eeprom93xx-1: Data: 0x3031\neeprom93xx-1: Data: 0x3233\n";
    EXPECT_EQ(decoded.out.substr(0, words.size()), words);
    EXPECT_EQ(std::count(decoded.out.begin(), decoded.out.end(), '\n'), 2 + 64);
    decoded = run("sigrok-cli -i " + file("r.vcd") +
                  " -P microwire:cs=reset:sk=sck:si=mosi:so=miso,eeprom93xx:addresssize=6 | "
                  "grep -ci 'warn\\|not enough\\|should\\|not high'");
    EXPECT_EQ(decoded.out, "0\n");
}

// Parts whose data the table once lacked: every fuse bit of an ATmega328 named, the factory
// preset of the USB parts a no-op on a chip as shipped, the ATmega328PB known and programmed, and
// a fuse write on an ATmega162 given its own 16 ms before anything else reaches the chip, and the
// ATtiny15's SPIEN and the AT90S1200's lock bits within serial reach.
TEST_F(Cli, PartsFromTheNewerDataAreNamedProgrammedAndWaitedFor)
{
    ASSERT_EQ(cli("sim insert-avr ATmega328").status, 0);
    ASSERT_EQ(cli("avr identify").status, 0);
    Streams s = apart("avr read-fuses");
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(std::count(s.out.begin(), s.out.end(), '='), 19) << s.out;
    EXPECT_NE(s.out.find("SPIEN=0"), std::string::npos);

    for (const char* part : {"ATmega16U2", "ATmega32U4"}) {
        SCOPED_TRACE(part);
        ASSERT_EQ(cli(std::string("sim insert-avr ") + part).status, 0);
        ASSERT_EQ(cli("avr identify").status, 0);
        const std::string before = cli("sim show").out;
        s = apart("--yes avr program-fuses --preset factory-default");
        EXPECT_EQ(s.status, 0);
        EXPECT_EQ(s.err.find("->"), std::string::npos) << s.err;
        EXPECT_EQ(cli("sim show").out, before);
    }

    ASSERT_EQ(cli("sim insert-avr --signature 1E9516").status, 0);
    EXPECT_EQ(apart("avr identify").out, "ATmega328PB (32kb flash)\n");
    ASSERT_EQ(cli("sim insert-avr ATmega328PB").status, 0);
    std::string image(32768, '\0');
    std::mt19937 random(328);
    for (char& c : image)
        c = static_cast<char>(random());
    std::ofstream(file("pb.bin"), std::ios::binary) << image;
    EXPECT_EQ(cli("avr program-flash " + file("pb.bin")).status, 0);
    EXPECT_EQ(cli("avr verify-flash " + file("pb.bin")).status, 0);

    ASSERT_EQ(cli("sim insert-avr ATmega162").status, 0);
    ASSERT_EQ(cli("avr identify").status, 0);
    ASSERT_EQ(cli("--trace " + file("fuse.vcd") + " --yes avr program-fuses BODLEVEL0=0").status,
              0);
    // Times in microseconds; the waits of power-up and power-down are 300 ms and more.
    std::ifstream vcd(file("fuse.vcd"));
    long long last = -1, waited = 0;
    for (std::string line; std::getline(vcd, line);)
        if (line.size() > 1 && line[0] == '#') {
            const long long t = std::stoll(line.substr(1));
            if (last >= 0 && t - last < 300000)
                waited = std::max(waited, t - last);
            last = t;
        }
    EXPECT_GE(waited, 16000);

    // The ATtiny15 writes SPIEN in serial mode: unprogrammed, it ends serial programming.
    ASSERT_EQ(cli("sim insert-avr ATtiny15").status, 0);
    ASSERT_EQ(cli("avr identify").status, 0);
    EXPECT_EQ(cli("--yes --allow-lockout avr program-fuses SPIEN=1").status, 0);
    EXPECT_NE(cli("sim show").out.find("avr.fuse.low=7C"), std::string::npos);
    EXPECT_EQ(cli("avr identify").status, 1);
    // The AT90S4433's fuse write cannot reach SPIEN: the bit is read, but not changed.
    ASSERT_EQ(cli("sim insert-avr AT90S4433").status, 0);
    EXPECT_NE(cli("avr read-fuses").out.find("SPIEN=0\n"), std::string::npos);
    const Result spien = cli("--yes --allow-lockout avr program-fuses SPIEN=1");
    EXPECT_EQ(spien.status, 2);
    EXPECT_NE(spien.out.find("SPIEN cannot be changed on AT90S4433"), std::string::npos)
        << spien.out;

    // The AT90S1200 writes its lock bits, though it cannot read them back.
    ASSERT_EQ(cli("sim insert-avr AT90S1200").status, 0);
    ASSERT_EQ(cli("avr identify").status, 0);
    EXPECT_EQ(cli("--yes avr program-lock LB1=0").status, 0);
    EXPECT_NE(cli("sim show").out.find("avr.lock=FD"), std::string::npos);
}

// ---- SPI NOR flash ----

namespace {
std::string randomImage(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(rng() & 0xFF);
    return bytes;
}
} // namespace

TEST_F(Cli, EachSimulatedFlashRoundTripsThroughBinAndHex)
{
    const struct {
        const char* part;
        std::size_t size;
        const char* ext;
        const char* identified;
    } cases[] = {
        {"GD25Q16", 2u << 20, "hex", "GD25Q16 (GigaDevice), JEDEC ID C8 40 15, 2097152 bytes"},
        {"W25Q64", 8u << 20, "bin", "W25Q64 (Winbond), JEDEC ID EF 40 17, 8388608 bytes"},
        // No page program: AAI, after the block protection it comes up with is cleared.
        {"SST25VF016B", 2u << 20, "bin", "SST25VF016B (SST), JEDEC ID BF 25 41, 2097152 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.part);
#ifdef __SANITIZE_ADDRESS__
        // Under the sanitizers the 8 MiB part's passes take minutes; the smaller part goes
        // through the same code.
        if (c.size > (2u << 20))
            continue;
#endif
        const std::string image = randomImage(c.size, 42);
        std::ofstream(file("image.bin"), std::ios::binary) << image;
        const std::string in = file("in.") + c.ext, out = file("out.") + c.ext;
        ASSERT_EQ(run(VARDEL_CLI " convert " + file("image.bin") + " " + in).status, 0);
        ASSERT_EQ(cli(std::string("sim insert-flash ") + c.part).status, 0);
        EXPECT_EQ(cli("flash blank-test").status, 0);
        const Streams id = apart("flash identify");
        EXPECT_EQ(id.status, 0);
        EXPECT_NE(id.out.find(c.identified), std::string::npos) << id.out;
        const Result programmed = cli("flash program " + in);
        EXPECT_EQ(programmed.status, 0) << programmed.out;
        EXPECT_EQ(cli("flash verify " + in).status, 0);
        ASSERT_EQ(cli("flash read " + out).status, 0);
        ASSERT_EQ(run(VARDEL_CLI " convert " + out + " " + file("back.bin")).status, 0);
        EXPECT_TRUE(readAll(file("back.bin")) == image);
        EXPECT_EQ(cli("flash blank-test").status, 1);
    }
}

TEST_F(Cli, AThirtyTwoMebibyteImageGoesThroughHexAndBinAcrossSixteenMebibytes)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "two passes over 32 MiB take minutes under the sanitizers";
#endif
    // 4 KiB on each side of 16 MiB: the HEX file's extended linear addresses 00FF and 0100.
    std::string image(32u << 20, '\xFF');
    image.replace((16u << 20) - 4096, 8192, randomImage(8192, 11));
    std::ofstream(file("image.bin"), std::ios::binary) << image;
    ASSERT_EQ(run(VARDEL_CLI " convert " + file("image.bin") + " " + file("in.hex")).status, 0);
    ASSERT_EQ(cli("sim insert-flash MX25L25645").status, 0);
    const Result programmed = cli("flash program " + file("in.hex"));
    EXPECT_EQ(programmed.status, 0) << programmed.out;
    EXPECT_NE(programmed.out.find("0 sectors and 0 blocks erased, 32 pages programmed"),
              std::string::npos)
        << programmed.out;
    ASSERT_EQ(cli("flash read " + file("out.bin")).status, 0);
    EXPECT_TRUE(readAll(file("out.bin")) == image);
}

TEST_F(Cli, AFourKilobyteChangeErasesOneSectorAndProgramsOnlyItsPages)
{
    const std::size_t size = 2u << 20;
    std::string image = randomImage(size, 7);
    std::ofstream(file("full.bin"), std::ios::binary) << image;
    image.replace(0x10000, 4096, randomImage(4096, 8));
    std::ofstream(file("changed.bin"), std::ios::binary) << image;
    ASSERT_EQ(cli("sim insert-flash GD25Q16 " + file("full.bin")).status, 0);
    const Result programmed = cli("flash program " + file("changed.bin") + " --verify");
    EXPECT_EQ(programmed.status, 0);
    EXPECT_NE(programmed.out.find("verified"), std::string::npos) << programmed.out;
    EXPECT_NE(programmed.out.find("1 sectors and 0 blocks erased, 16 pages programmed"),
              std::string::npos)
        << programmed.out;
    EXPECT_NE(cli("sim show").out.find("flash.erased=4096\n"), std::string::npos);
    ASSERT_EQ(cli("sim export flash " + file("chip.bin")).status, 0);
    EXPECT_TRUE(readAll(file("chip.bin")) == image);
}

TEST_F(Cli, AWriteIntoAProtectedRangeIsRefusedNamingItUnlessTheBitsMayBeCleared)
{
    // GD25Q16: BP2..BP0 = 001 protects the upper 64K, 111 everything; the change is at 0x1F0000.
    const struct {
        const char* status;
        const char* options;
        int exit;
        const char* said;
        const char* statusAfter;
    } cases[] = {
        {"1C", "", 1, "write-protected from 0x0000 to 0x1FFFFF (BP2 BP1 BP0 = 111", "1C"},
        {"04", "", 1, "write-protected from 0x1F0000 to 0x1FFFFF (BP2 BP1 BP0 = 001", "04"},
        {"24", "", 0, "16 pages programmed", "24"}, // TB: the lowest 64K instead
        {"1C", "--clear-protection ", 0, "The block-protect bits were cleared", "00"},
        {"9C", "--clear-protection ", 0, "16 pages programmed", "80"}, // SRP0 kept
    };
    std::string image(2u << 20, '\xFF');
    image.replace(0x1F0000, 4096, randomImage(4096, 9));
    std::ofstream(file("image.bin"), std::ios::binary) << image;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.status) + " " + c.options);
        ASSERT_EQ(
            cli(std::string("sim insert-flash GD25Q16 --set flash.status=") + c.status).status, 0);
        const Result r = cli(std::string(c.options) + "flash program " + file("image.bin"));
        EXPECT_EQ(r.status, c.exit) << r.out;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
        const std::string shown = cli("sim show").out;
        EXPECT_NE(shown.find(std::string("flash.status=") + c.statusAfter + "\n"),
                  std::string::npos)
            << shown;
        ASSERT_EQ(cli("sim export flash " + file("chip.bin")).status, 0);
        EXPECT_EQ(readAll(file("chip.bin")) == image, c.exit == 0);
    }
    ASSERT_EQ(cli("sim insert-flash GD25Q16 --set flash.status=24").status, 0);
    EXPECT_NE(
        apart("flash identify").out.find("status 0024\nwrite-protected from 0x0000 to 0xFFFF\n"),
        std::string::npos);
    ASSERT_EQ(cli("sim insert-flash GD25Q16 --set flash.status=1C").status, 0);
    EXPECT_EQ(cli("flash erase").status, 1);
    EXPECT_EQ(cli("--clear-protection flash erase").status, 0);
}

TEST_F(Cli, AFlashGivenAnIdMissingFromTheTableIsSizedBySfdpWhereItHasOne)
{
    ASSERT_EQ(cli("sim insert-flash W25Q64 --set flash.id=EF4099").status, 0);
    EXPECT_NE(cli("sim show").out.find("flash.id=EF4099\n"), std::string::npos);
    EXPECT_EQ(apart("flash identify").out,
              "SFDP part (Winbond), JEDEC ID EF 40 99, 8388608 bytes, status 00\n");
    ASSERT_EQ(cli("sim insert-flash GD25Q16 --set flash.id=C84099").status, 0);
    EXPECT_EQ(apart("flash identify").out, "unknown part, JEDEC ID C8 40 99, status 00\n");
    EXPECT_EQ(cli("flash blank-test").status, 1);
}

// The voltage warning comes once, before the first flash command; an SPI flash project then runs
// a batch of fresh simulated chips, each with its serial number, logged as the other sockets' are.
TEST_F(Cli, TheVoltageWarningComesOnceAndAFlashProjectRunsABatch)
{
    ASSERT_EQ(cli("sim insert-flash GD25Q16").status, 0);
    const Streams first = apart("flash identify");
    EXPECT_NE(first.err.find("WARNING: Most SPI flash chips are 3.3 V parts"), std::string::npos)
        << first.err;
    EXPECT_EQ(apart("flash identify").err.find("3.3 V"), std::string::npos);

    std::ofstream(file("fw.bin"), std::ios::binary) << randomImage(3000, 11);
    std::ofstream(file("p.vardel"))
        << "socket = spi-flash\npart = GD25Q16\nflash = fw.bin\nlog = runs.csv\n"
           "serial.memory = flash\nserial.address = 0x2000\nserial.length = 1\n"
           "serial.format = bcd\nserial.next = 41\n";
    const Result r = cli("auto " + file("p.vardel") + " --count 2");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Batch: 2 good, 0 failed"), std::string::npos) << r.out;
    const std::string log = readAll(file("runs.csv"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;
    EXPECT_NE(log.find(",GD25Q16,,42,0x"), std::string::npos) << log;
    ASSERT_EQ(cli("sim export flash " + file("chip.bin")).status, 0);
    const std::string chip = readAll(file("chip.bin"));
    EXPECT_EQ(chip.substr(0, 3000), randomImage(3000, 11));
    EXPECT_EQ(chip[0x2000], '\x42');
}

TEST_F(Cli, AnEmptySocketIsNoChipWithAWiringHint)
{
    ASSERT_EQ(cli("sim remove avr").status, 0);
    for (const char* command : {"flash identify", "flash blank-test", "flash erase"}) {
        SCOPED_TRACE(command);
        const Streams r = apart(command);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("No chip: the JEDEC ID reads FF FF FF"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("pin 1"), std::string::npos);
    }
    EXPECT_EQ(cli("flash read " + file("x.bin")).status, 1);
    EXPECT_FALSE(std::filesystem::exists(file("x.bin")));
}
