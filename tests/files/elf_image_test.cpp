#include "files/elf_image.h"
#include "files/image_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace vardel {
namespace {

std::vector<std::uint8_t> ReadBytes(const char* name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The ELF program gives every memory the bytes its avr-objcopy HEX gives, .data at its load
// address in flash.
TEST(ElfImage, GivesTheBytesOfItsIntelHex)
{
    const ImageRead elf = ReadImageFile(VARDEL_ELF_DIR "/blink-data-atmega328p.elf", 0);
    const ImageRead hex = ReadImageFile(VARDEL_ELF_DIR "/blink-data-atmega328p.hex", 0);
    ASSERT_TRUE(elf.ok()) << elf.detail;
    ASSERT_TRUE(hex.ok()) << hex.detail;
    EXPECT_TRUE(elf.warning.empty());
    for (const AvrMemory memory : {AvrMemory::Flash, AvrMemory::Eeprom}) {
        std::vector<std::uint8_t> fromElf(32768, 0xFF), fromHex(32768, 0xFF);
        PlaceAvrImage(elf.file, memory, fromElf);
        PlaceAvrImage(hex.file, memory, fromHex);
        EXPECT_EQ(fromElf, fromHex);
    }
    const AvrImageBits bits = ReadAvrImageBits(elf.file.hex);
    EXPECT_EQ(bits.fuses[1], 0xD9);
    EXPECT_EQ(bits.lock, 0xFE);
    EXPECT_EQ(bits.signature, (std::array<std::uint8_t, 3>{0x1E, 0x95, 0x0F}));
}

TEST(ElfImage, RefusesWhatIsNoLinkedAvrProgram)
{
    const std::vector<std::uint8_t> good = ReadBytes(VARDEL_ELF_DIR "/blink-data-atmega328p.elf");
    ASSERT_GT(good.size(), 0x200u);
    const struct {
        std::size_t at; // a byte changed (past the end: the file cut there)
        std::uint8_t value;
        const char* says;
    } cases[] = {
        {0, 0x7E, "not an ELF file"},
        {18, 62, "a program for another processor (ELF machine 62), not for an AVR"},
        {16, 1, "an object file, not a linked program"},
        {0x1C0, 0, "lies past the end of the file: the file is cut short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<std::uint8_t> bytes = good;
        if (c.value || c.at < 0x100)
            bytes[c.at] = c.value;
        else
            bytes.resize(c.at);
        const HexParse parse = ParseElfImage(bytes);
        EXPECT_NE(parse.error.find(c.says), std::string::npos) << parse.error;
        EXPECT_TRUE(parse.image.empty());
    }
}

} // namespace
} // namespace vardel
