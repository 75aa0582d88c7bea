// The binary loader and the file kind rule: reads never pass the count asked for.
#include "files/binary_file.h"
#include "fuzz_file.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& file = FuzzFile(".bin");
    WriteFuzzFile(file, data, size);
    for (const std::size_t capacity :
         {std::size_t{0}, std::size_t{1}, std::size_t{512}, std::size_t{100000}}) {
        std::vector<std::uint8_t> buffer(capacity + 1, 0xA5);
        const long n = vardel::ReadBinaryFile(file, buffer.data(), capacity);
        if (n < 0 || static_cast<std::size_t>(n) > capacity || buffer[capacity] != 0xA5)
            __builtin_trap();
    }
    // Any text as a file name: the kind rule looks at the last three characters only.
    const std::string name(reinterpret_cast<const char*>(data), size);
    (void)vardel::FileKindOf(name);
    (void)vardel::FileTypeSuffix(name);
    return 0;
}
