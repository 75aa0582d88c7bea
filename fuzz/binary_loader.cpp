// The binary loader and the file kind rule, from memory: a binary image fills a memory from
// address 0 and never writes past it.
#include "files/image_file.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vardel::ImageFile file;
    file.kind = vardel::FileKind::Bin;
    file.bin.assign(data, data + size);
    for (const std::size_t capacity :
         {std::size_t{0}, std::size_t{1}, std::size_t{512}, std::size_t{100000}}) {
        std::vector<std::uint8_t> memory(capacity + 1, 0xA5);
        const auto placed = vardel::PlaceImageFile(file, std::span(memory.data(), capacity));
        if (memory[capacity] != 0xA5 || placed.inside + placed.outside != size ||
            !std::equal(memory.begin(), memory.begin() + placed.inside, data))
            __builtin_trap();
    }
    // Any text as a file name: the kind rule looks at the last three characters only.
    const std::string name(reinterpret_cast<const char*>(data), size);
    (void)vardel::FileKindOf(name);
    (void)vardel::FileTypeSuffix(name);
    return 0;
}
