#include "files/binary_file.h"

#include "files/file_access.h"

#include <algorithm>

namespace vardel {

std::string FileTypeSuffix(const std::string& fileName)
{
    if (fileName.size() <= 3)
        return fileName;
    return fileName.substr(fileName.size() - 3);
}

namespace {

std::string UpperSuffix(const std::string& fileName)
{
    std::string suffix = FileTypeSuffix(fileName);
    // Plain A-Z folding: the user's locale must not change what a file name means.
    for (char& c : suffix) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return suffix;
}

} // namespace

bool IsElfName(const std::string& fileName)
{
    return UpperSuffix(fileName) == "ELF";
}

FileKind FileKindOf(const std::string& fileName)
{
    const std::string suffix = UpperSuffix(fileName);
    if (suffix == "BIN")
        return FileKind::Bin;
    if (suffix == "HEX")
        return FileKind::Hex;
    return FileKind::Other;
}

bool WriteBinaryFile(const std::string& fileName, const std::uint8_t* data, std::size_t size)
{
    return ReplaceFileContent(fileName, data, size);
}

bool ReplaceFileAtomically(const std::string& fileName, const std::string& content)
{
    return ReplaceFileContent(fileName, content.data(), content.size());
}

} // namespace vardel
