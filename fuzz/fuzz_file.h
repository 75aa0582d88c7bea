#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

// The routines under test read files: each input is written to one scratch file of the process.
inline const std::string& FuzzFile(const char* suffix)
{
    static const std::string name = "/tmp/vardel-fuzz-" + std::to_string(::getpid()) + suffix;
    return name;
}

inline void WriteFuzzFile(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
}
