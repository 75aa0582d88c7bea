// The Intel HEX reader on any text, from memory: it either names a line or gives an image no
// larger than half the text, lays it into the callers' memories without a byte outside them, and
// reads back unchanged what the writer makes of it.
#include "files/image_file.h"
#include "files/unHEX.h"

#include <algorithm>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const vardel::HexParse parse = vardel::ParseIntelHex(std::span(data, size));
    if (!parse.ok()) {
        if (!parse.image.empty() || parse.error.rfind("line ", 0) != 0)
            __builtin_trap();
        return 0;
    }
    const vardel::HexImage& image = parse.image;
    if (image.bytes.size() > size / 2)
        __builtin_trap();
    // The EEPROM page's largest chip, the largest flash, the largest AVR EEPROM, the smallest.
    // Kept from one run to the next: only the guard byte past each memory matters.
    static std::vector<std::uint8_t> memories[] = {
        std::vector<std::uint8_t>(65536 + 1, 0xA5), std::vector<std::uint8_t>(131072 + 1, 0xA5),
        std::vector<std::uint8_t>(4096 + 1, 0xA5), std::vector<std::uint8_t>(64 + 1, 0xA5)};
    // Each memory takes the image as it stands and as a whole program's EEPROM region.
    vardel::ImageFile file;
    file.kind = vardel::FileKind::Hex;
    file.hex = image;
    for (std::vector<std::uint8_t>& memory : memories) {
        const std::size_t capacity = memory.size() - 1;
        const auto placed = vardel::PlaceHexImage(image, 0, std::span(memory.data(), capacity));
        if (memory[capacity] != 0xA5 || placed.inside + placed.outside != image.bytes.size())
            __builtin_trap();
        vardel::PlaceAvrImage(file, vardel::AvrMemory::Eeprom, std::span(memory.data(), capacity));
        if (memory[capacity] != 0xA5)
            __builtin_trap();
    }
    // Images up to the largest chip go through the writer and back.
    const std::uint64_t end = image.end();
    if (end > 0 && end <= 131072) {
        std::vector<std::uint8_t> flat(static_cast<std::size_t>(end), 0xFF);
        vardel::PlaceHexImage(image, 0, flat);
        const std::string text = vardel::FormatIntelHex(flat.data(), flat.size());
        const vardel::HexParse again = vardel::ParseIntelHex(
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        std::vector<std::uint8_t> copy(flat.size(), 0x00);
        if (!again.ok() || vardel::PlaceHexImage(again.image, 0, copy).outside != 0 || copy != flat)
            __builtin_trap();
    }
    return 0;
}
