#include "cli/cli_convert.h"

#include "files/binary_file.h"
#include "files/unHEX.h"

#include <cstdio>
#include <filesystem>
#include <vector>

namespace vardel::cli {

// convert IN OUT: between Intel HEX and binary images by the files' endings, with the program's
// own reader and writer. A binary image runs from address 0 to the highest address the HEX file
// fills, FF where it gives nothing. It needs no Qt, so the launcher runs it without starting the
// rest of the program.
int Convert(const std::vector<std::string>& args)
{
    if (args.size() != 2) {
        std::fprintf(stderr, "vardel-cli: usage: convert IN OUT (files ending in HEX or BIN)\n");
        return 2;
    }
    const std::string& in = args[0];
    const std::string& out = args[1];
    const FileKind inKind = FileKindOf(in);
    const FileKind outKind = FileKindOf(out);
    if (inKind == FileKind::Other || outKind == FileKind::Other) {
        std::fprintf(stderr, "vardel-cli: convert takes files whose names end in HEX or BIN\n");
        return 2;
    }

    std::vector<std::uint8_t> image;
    if (inKind == FileKind::Hex) {
        const long long extent = IntelHexExtent(in);
        if (extent < 0) {
            std::printf("ERROR: Can't open file %s\n", in.c_str());
            return 1;
        }
        image.assign(static_cast<std::size_t>(extent), 0xFF);
        ReadIntelHexFile(in, static_cast<long>(extent), image.data(), image.size());
    } else {
        std::error_code ec;
        const auto size = std::filesystem::file_size(in, ec);
        const long n = ec ? -1 : (image.assign(static_cast<std::size_t>(size), 0xFF),
                                  ReadBinaryFile(in, image.data(), image.size()));
        if (n < 0) {
            std::printf("ERROR: Can't open file %s\n", in.c_str());
            return 1;
        }
        image.resize(static_cast<std::size_t>(n));
    }
    const bool written = outKind == FileKind::Hex
                             ? WriteIntelHexFile(out, image.data(), image.size())
                             : WriteBinaryFile(out, image.data(), image.size());
    if (!written) {
        std::printf("ERROR: Can't create file!! (%s)\n", out.c_str());
        return 1;
    }
    return 0;
}

} // namespace vardel::cli
