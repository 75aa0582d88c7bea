#include "files/binary_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace vardel {

namespace {

// A name beside the target that no other file uses yet; the rename then stays on one file system.
std::filesystem::path TemporaryNameBeside(const std::filesystem::path& target)
{
    static std::mt19937 generator{std::random_device{}()};
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".tmp%08X", static_cast<unsigned>(generator()));
    std::filesystem::path name = target;
    name += suffix;
    return name;
}

// Opens a new temporary file exclusively, so that a file of the same name is never overwritten.
std::FILE* CreateTemporaryBeside(const std::filesystem::path& target,
                                 std::filesystem::path& temporary)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = TemporaryNameBeside(target);
        if (std::FILE* file = std::fopen(temporary.c_str(), "wbx"))
            return file;
        std::error_code ignored;
        if (!std::filesystem::exists(temporary, ignored))
            return nullptr;
    }
    return nullptr;
}

bool ReplaceWithBytes(const std::string& fileName, const char* data, std::size_t size)
{
    if (fileName.empty())
        return false;
    const std::filesystem::path target(fileName);
    std::filesystem::path temporary;
    std::FILE* file = CreateTemporaryBeside(target, temporary);
    if (file == nullptr)
        return false;

    bool complete = size == 0 || std::fwrite(data, 1, size, file) == size;
    // Buffered bytes may only fail to reach the disk at the flush or the close.
    if (std::fflush(file) != 0)
        complete = false;
    if (std::fclose(file) != 0)
        complete = false;

    std::error_code error;
    if (complete) {
        std::filesystem::rename(temporary, target, error);
        if (!error)
            return true;
    }
    std::filesystem::remove(temporary, error);
    return false;
}

} // namespace

std::string FileTypeSuffix(const std::string& fileName)
{
    if (fileName.size() <= 3)
        return fileName;
    return fileName.substr(fileName.size() - 3);
}

FileKind FileKindOf(const std::string& fileName)
{
    std::string suffix = FileTypeSuffix(fileName);
    // Plain A-Z folding: the user's locale must not change what a file name means.
    for (char& c : suffix) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    if (suffix == "BIN")
        return FileKind::Bin;
    if (suffix == "HEX")
        return FileKind::Hex;
    return FileKind::Other;
}

long ReadBinaryFile(const std::string& fileName, std::uint8_t* buffer, std::size_t maxBytes)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file.is_open())
        return -1;
    if (maxBytes == 0)
        return 0;
    file.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(maxBytes));
    return static_cast<long>(file.gcount());
}

bool WriteBinaryFile(const std::string& fileName, const std::uint8_t* data, std::size_t size)
{
    return ReplaceWithBytes(fileName, reinterpret_cast<const char*>(data), size);
}

bool ReplaceFileAtomically(const std::string& fileName, const std::string& content)
{
    return ReplaceWithBytes(fileName, content.data(), content.size());
}

} // namespace vardel
