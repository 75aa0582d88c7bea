// The Intel HEX reader on any text: it must never store outside the buffer it is given, whatever
// the counts, addresses and extended address records say.
#include "files/unHEX.h"
#include "fuzz_file.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& file = FuzzFile(".hex");
    WriteFuzzFile(file, data, size);
    // The callers' buffers: the EEPROM image, the AVR flash and the AVR EEPROM, exactly sized.
    for (const auto& [capacity, limit] :
         {std::pair<std::size_t, long>{100001, 65536}, {132001, 132000}, {4101, 4100}, {16, 15}}) {
        std::vector<std::uint8_t> buffer(capacity, 0xFF);
        vardel::ReadIntelHexFile(file, limit, buffer.data(), buffer.size());
    }
    const long long extent = vardel::IntelHexExtent(file);
    if (extent > 0 && extent <= (1 << 20)) {
        std::vector<std::uint8_t> image(static_cast<std::size_t>(extent), 0xFF);
        vardel::ReadIntelHexFile(file, static_cast<long>(extent), image.data(), image.size());
        // What the writer writes, the reader reads back unchanged.
        const std::string copy = FuzzFile("-copy.hex");
        if (vardel::WriteIntelHexFile(copy, image.data(), image.size())) {
            std::vector<std::uint8_t> again(image.size(), 0x00);
            vardel::ReadIntelHexFile(copy, static_cast<long>(extent), again.data(), again.size());
            if (again != image)
                __builtin_trap();
        }
    }
    return 0;
}
