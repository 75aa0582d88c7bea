#include "files/image_file.h"
#include "files/project_file.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <string>

using namespace vardel;

namespace {

ProjectParse Parse(const std::string& text)
{
    return ParseProject(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

const std::string kAvr = "socket = avr\npart = ATmega328P\n";

} // namespace

TEST(ProjectFile, AWholeProjectReadsBackFromItsOwnText)
{
    const ProjectParse parsed = Parse("# production of the blinker\n"
                                      "socket = avr   # the AVR socket\n"
                                      "part=ATmega328P\n"
                                      "\r\n"
                                      "flash = build/blink#2.hex\n"
                                      "eeprom = data.bin\n"
                                      "fuses = CKDIV8=1 SUT0=0\n"
                                      "lock = LB1=0 LB2=0\n"
                                      "allow-lockout = no\n"
                                      "serial.memory = eeprom\n"
                                      "serial.address = 0x3F0\n"
                                      "serial.length = 6\n"
                                      "serial.format = ascii\n"
                                      "serial.width = 5\n"
                                      "serial.next = 18446744073709551615\n"
                                      "serial.step = 10\n"
                                      "log = runs.csv\n");
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const Project& p = parsed.project;
    EXPECT_EQ(p.flash, "build/blink#2.hex");
    EXPECT_EQ(p.fuseBits, (std::vector<NamedBit>{{"CKDIV8", false}, {"SUT0", true}}));
    ASSERT_TRUE(p.serial);
    EXPECT_EQ(p.serial->address, 0x3F0u);
    EXPECT_EQ(p.serial->width, 5);
    EXPECT_EQ(p.serial->next, UINT64_MAX);
    EXPECT_EQ(p.lineOf("part"), 3);
    EXPECT_EQ(p.lineOf("log"), 17);

    const std::string text = ProjectText(p);
    const ProjectParse again = Parse(text);
    ASSERT_TRUE(again.ok()) << again.error;
    EXPECT_EQ(ProjectText(again.project), text);
}

TEST(ProjectFile, AnSpiFlashProjectReadsBackFromItsOwnText)
{
    const ProjectParse parsed = Parse("socket = spi-flash\npart = W25Q64\nflash = fw.bin\n"
                                      "serial.memory = flash\nserial.address = 0x1000\n"
                                      "serial.length = 4\nserial.format = little-endian\n"
                                      "serial.next = 7\nlog = runs.csv\n");
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.project.socket, ProjectSocket::SpiFlash);
    ASSERT_TRUE(parsed.project.serial);
    EXPECT_TRUE(parsed.project.serial->inFlash);
    const std::string text = ProjectText(parsed.project);
    EXPECT_EQ(text.rfind("socket = spi-flash\n", 0), 0u) << text;
    EXPECT_EQ(ProjectText(Parse(text).project), text);
}

TEST(ProjectFile, EveryFaultNamesItsLine)
{
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {kAvr + "colour = red\n", "line 3: unknown key 'colour'"},
        {kAvr + "part = ATmega8\n", "line 3: 'part' is given a second time (first on line 2)"},
        {"socket = usb\npart = x\n", "line 1: socket is avr, eeprom or spi-flash, not 'usb'"},
        {kAvr + "flash\n", "line 3: expected key = value"},
        {kAvr + "flash = \n", "line 3: 'flash' has no value"},
        {kAvr + "fuses = CKDIV8\n", "line 3: fuses takes NAME=0 or NAME=1 words"},
        {kAvr + "fuses = CKDIV8=1\nfuse.low = E2\n", "line 4: fuse.low and fuses cannot both"},
        {kAvr + "fuse.high = 1D9\n", "line 3: fuse.high takes a byte in hex (E2), not '1D9'"},
        {kAvr + "allow-lockout = maybe\n", "line 3: allow-lockout is yes or no"},
        {kAvr + "serial.memory = eeprom\n", "a serial number rule needs serial.address"},
        {kAvr + "serial.memory = ram\nserial.address = 0\nserial.length = 2\n"
                "serial.format = bcd\nserial.next = 1\n",
         "line 3: serial.memory is flash or eeprom"},
        {kAvr + "serial.memory = flash\nserial.address = 0\nserial.length = 9\n"
                "serial.format = bcd\nserial.next = 1\n",
         "line 5: serial.length is 1 to 8 bytes"},
        {kAvr + "serial.memory = flash\nserial.address = 0\nserial.length = 2\n"
                "serial.format = bcd\nserial.width = 2\nserial.next = 1\n",
         "line 7: serial.width is for the ascii format only"},
        {kAvr + "serial.memory = flash\nserial.address = 0\nserial.length = 2\n"
                "serial.format = ascii\nserial.width = 3\nserial.next = 1\n",
         "line 7: serial.width is 1 to serial.length (2)"},
        {kAvr + "serial.memory = flash\nserial.address = 0\nserial.length = 2\n"
                "serial.format = bcd\nserial.next = 18446744073709551616\n",
         "line 7: serial.next takes a number"},
        {"socket = eeprom\npart = 24C256\neeprom = a.bin\nflash = b.hex\n",
         "line 4: an EEPROM socket has no flash"},
        {"socket = eeprom\npart = 24C256\n", "an EEPROM project needs its image"},
        {"part = 24C256\n", "the project names no socket"},
        {"socket = spi-flash\npart = W25Q64\n", "an SPI flash project needs its image"},
        {"socket = spi-flash\npart = W25Q64\nflash = a.bin\nfuses = CKDIV8=1\n",
         "line 4: an SPI flash socket has no fuses"},
        {"socket = spi-flash\npart = W25Q64\nflash = a.bin\nserial.memory = eeprom\n"
         "serial.address = 0\nserial.length = 2\nserial.format = bcd\nserial.next = 1\n",
         "line 4: serial.memory is flash on an SPI flash socket"},
        {kAvr + std::string("log = a\0b\n", 10), "line 3: a NUL byte"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ProjectParse parsed = Parse(c.text);
        EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
        EXPECT_EQ(parsed.project.part, "");
    }
}

TEST(ProjectFile, TheNextSerialNumberIsRewrittenInPlace)
{
    const std::string text = "socket = avr\n# next board\nserial.next =  41 # so far\nlog = x\n";
    EXPECT_EQ(WithNextSerial(text, 1042),
              "socket = avr\n# next board\nserial.next =  1042 # so far\nlog = x\n");
    EXPECT_EQ(WithNextSerial("socket = avr", 7), "socket = avr\nserial.next = 7\n");
}

TEST(ProjectFile, SerialNumbersInEachFormatAndTheirLimits)
{
    using V = std::vector<std::uint8_t>;
    const struct {
        SerialFormat format;
        int length;
        int width;
        std::uint64_t value;
        std::optional<V> bytes;
    } cases[] = {
        {SerialFormat::LittleEndian, 3, 0, 0x123456, V{0x56, 0x34, 0x12}},
        {SerialFormat::LittleEndian, 2, 0, 0x10000, std::nullopt},
        {SerialFormat::LittleEndian, 8, 0, UINT64_MAX, V(8, 0xFF)},
        {SerialFormat::BigEndian, 3, 0, 0x123456, V{0x12, 0x34, 0x56}},
        {SerialFormat::BigEndian, 1, 0, 256, std::nullopt},
        {SerialFormat::Ascii, 6, 4, 42, V{'0', '0', '4', '2', 0, 0}},
        {SerialFormat::Ascii, 3, 0, 999, V{'9', '9', '9'}},
        {SerialFormat::Ascii, 3, 0, 1000, std::nullopt},
        {SerialFormat::Bcd, 2, 0, 1234, V{0x12, 0x34}},
        {SerialFormat::Bcd, 3, 0, 7, V{0x00, 0x00, 0x07}},
        {SerialFormat::Bcd, 2, 0, 10000, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        SerialRule rule;
        rule.format = c.format;
        rule.length = c.length;
        rule.width = c.width;
        std::string error;
        EXPECT_EQ(SerialBytes(rule, c.value, &error), c.bytes);
        EXPECT_EQ(error.empty(), c.bytes.has_value()) << error;
    }
}

TEST(ProjectFile, OneImageFusesAndLockAndTheCrc)
{
    const std::string text =
        vardel::test::ReadWholeFile(VARDEL_SAMPLES_DIR "/blink-atmega328p-all.hex");
    const HexParse hex =
        ParseIntelHex(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    ASSERT_TRUE(hex.ok());
    const AvrImageBits bits = ReadAvrImageBits(hex.image);
    EXPECT_EQ(bits.fuses[0], 0xE2);
    EXPECT_EQ(bits.fuses[1], 0xD9);
    EXPECT_EQ(bits.fuses[2], 0xFD);
    EXPECT_EQ(bits.lock, 0xFE);
    EXPECT_EQ(bits.stray, 0u);

    const std::string check = "123456789";
    EXPECT_EQ(Crc32(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), 9)),
              0xCBF43926u);
}
