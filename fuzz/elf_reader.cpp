// The ELF reader on any bytes: it either refuses them with a reason and no image, or gives an
// image no larger than the AVR memories' span, every segment's bytes taken from inside the file,
// and each of its memories laid into an AVR's without a byte outside them.
#include "files/elf_image.h"
#include "files/image_file.h"

#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const vardel::HexParse parse = vardel::ParseElfImage(std::span(data, size));
    if (!parse.ok()) {
        if (!parse.image.empty())
            __builtin_trap();
        return 0;
    }
    // Segments may share the file's bytes, but never the AVR memories' addresses.
    if (parse.image.bytes.size() > vardel::kAvrHexEnd)
        __builtin_trap();
    vardel::ImageFile file;
    file.kind = vardel::FileKind::Hex;
    file.hex = parse.image;
    static std::vector<std::uint8_t> memory(131072 + 1, 0xA5);
    for (const vardel::AvrMemory which : {vardel::AvrMemory::Flash, vardel::AvrMemory::Eeprom}) {
        vardel::PlaceAvrImage(file, which, std::span(memory.data(), memory.size() - 1));
        if (memory.back() != 0xA5)
            __builtin_trap();
    }
    vardel::ReadAvrImageBits(parse.image);
    return 0;
}
