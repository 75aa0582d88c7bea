#include "cli/cli_convert.h"

#include "files/binary_file.h"
#include "files/file_access.h"
#include "files/image_file.h"
#include "files/unHEX.h"

#include <cstdio>
#include <exception>
#include <vector>

namespace vardel::cli {

namespace {

// The largest flash of any chip is 128 KiB; an image far beyond it is a damaged or foreign file.
constexpr std::size_t kLargestImage = std::size_t{256} << 20;
// The Intel HEX text of the largest image, with room for records shorter than 16 bytes.
constexpr std::size_t kLargestHexText = std::size_t{1} << 30;

int ConvertFiles(const std::string& in, FileKind inKind, const std::string& out, FileKind outKind)
{
    const bool hexIn = inKind == FileKind::Hex;
    FileBytes read = ReadWholeFile(in, hexIn ? kLargestHexText : kLargestImage, ReadLimit::Whole);
    if (read.failure == ReadFailure::TooLarge && !hexIn) {
        std::fprintf(stderr, "ERROR: %s is larger than 256 MiB: no chip image is that large\n",
                     in.c_str());
        return 1;
    }
    if (!read.ok()) {
        std::fprintf(stderr, "ERROR: Can't open file %s: it %s\n", in.c_str(),
                     ReadFailureReason(read.failure));
        return 1;
    }
    // What a failed build or download leaves is no image to convert.
    if (read.bytes.empty()) {
        std::fprintf(stderr, "ERROR: %s\n", EmptyFileError(in).c_str());
        return 1;
    }
    std::vector<std::uint8_t> image;
    if (hexIn) {
        const HexParse parse = ParseIntelHex(read.bytes);
        std::vector<std::uint8_t>().swap(read.bytes);
        if (!parse.ok()) {
            std::fprintf(stderr, "ERROR: %s: %s\n", in.c_str(), parse.error.c_str());
            return 1;
        }
        if (!parse.image.endRecord)
            std::fprintf(stderr, "WARNING: %s\n", CutShortWarning(in).c_str());
        const std::uint64_t end = parse.image.end();
        if (end > kLargestImage) {
            std::fprintf(stderr,
                         "ERROR: %s reaches address $%llX: an image larger than 256 MiB is not "
                         "made\n",
                         in.c_str(), static_cast<unsigned long long>(end - 1));
            return 1;
        }
        image.assign(static_cast<std::size_t>(end), 0xFF);
        PlaceHexImage(parse.image, 0, image);
    } else {
        image = std::move(read.bytes);
    }
    const bool written = outKind == FileKind::Hex
                             ? WriteIntelHexFile(out, image.data(), image.size())
                             : WriteBinaryFile(out, image.data(), image.size());
    if (!written) {
        std::fprintf(stderr, "ERROR: Can't create file!! (%s)\n", out.c_str());
        return 1;
    }
    return 0;
}

} // namespace

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

    try {
        return ConvertFiles(in, inKind, out, outKind);
    } catch (const std::exception&) {
        // Allocation is the only thing here that throws.
        std::fprintf(stderr, "ERROR: not enough memory to convert %s\n", in.c_str());
        return 1;
    }
}

} // namespace vardel::cli
