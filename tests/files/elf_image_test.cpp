#include "files/elf_image.h"

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

// What is not a linked AVR program is refused with its reason and no image; the bytes a good
// one gives are compared with its HEX by the command-line tests.
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
