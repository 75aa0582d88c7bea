#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace vardel::test {

// A fresh folder per test, removed afterwards, so tests never see each other's files.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::random_device seed;
        const auto root = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = root / ("vardel-files-" + std::to_string(seed()));
            if (std::filesystem::create_directory(path_))
                break;
        }
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            result.push_back(entry.path().filename().string());
        return result;
    }

private:
    std::filesystem::path path_;
};

inline std::string ReadWholeFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWholeFile(const std::string& name, const std::string& content)
{
    std::ofstream(name, std::ios::binary) << content;
}

// Each file's inode: a file that is replaced whole gets a new one.
inline std::map<std::string, std::uintmax_t> FileInodes(const std::string& folder)
{
    std::map<std::string, std::uintmax_t> result;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        struct stat st {};
        ::stat(entry.path().c_str(), &st);
        result[entry.path().filename().string()] = st.st_ino;
    }
    return result;
}

inline std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(generator());
    return bytes;
}

} // namespace vardel::test
