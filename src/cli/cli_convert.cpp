#include "cli/cli.h"

#include "files/binary_file.h"
#include "files/unHEX.h"

#include <filesystem>
#include <vector>

namespace vardel::cli {

// convert IN OUT: between Intel HEX and binary images by the files' endings, with the program's
// own reader and writer. A binary image runs from address 0 to the highest address the HEX file
// fills, FF where it gives nothing.
int runConvert(const QStringList& args)
{
    if (args.size() != 2)
        return usageError(QStringLiteral("usage: convert IN OUT (files ending in HEX or BIN)"));
    const std::string in = args[0].toStdString();
    const std::string out = args[1].toStdString();
    const FileKind inKind = FileKindOf(in);
    const FileKind outKind = FileKindOf(out);
    if (inKind == FileKind::Other || outKind == FileKind::Other)
        return usageError(QStringLiteral("convert takes files whose names end in HEX or BIN"));

    std::vector<std::uint8_t> image;
    if (inKind == FileKind::Hex) {
        const long long extent = IntelHexExtent(in);
        if (extent < 0) {
            std::printf("ERROR: Can't open file %s\n", in.c_str());
            return Failure;
        }
        image.assign(static_cast<std::size_t>(extent), 0xFF);
        ReadIntelHexFile(in, static_cast<long>(extent), image.data(), image.size());
    } else {
        std::error_code ec;
        const auto size = std::filesystem::file_size(in, ec);
        if (ec) {
            std::printf("ERROR: Can't open file %s\n", in.c_str());
            return Failure;
        }
        image.assign(static_cast<std::size_t>(size), 0xFF);
        const long n = ReadBinaryFile(in, image.data(), image.size());
        if (n < 0) {
            std::printf("ERROR: Can't open file %s\n", in.c_str());
            return Failure;
        }
        image.resize(static_cast<std::size_t>(n));
    }
    const bool written = outKind == FileKind::Hex
                             ? WriteIntelHexFile(out, image.data(), image.size())
                             : WriteBinaryFile(out, image.data(), image.size());
    if (!written) {
        std::printf("ERROR: Can't create file!! (%s)\n", out.c_str());
        return Failure;
    }
    return Success;
}

} // namespace vardel::cli
