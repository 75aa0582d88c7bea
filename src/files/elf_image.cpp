#include "files/elf_image.h"

#include "files/image_file.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace vardel {

namespace {

// avr-gcc's machine number; <elf.h> of older C libraries lacks the name.
constexpr int kMachineAvr = 83;

struct ElfCloser {
    void operator()(Elf* elf) const { elf_end(elf); }
};

std::string Hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

HexParse ParseElfImage(std::span<const std::uint8_t> file)
{
    HexParse result;
    auto refuse = [&result](std::string why) {
        result.image = HexImage{};
        result.error = std::move(why);
        return result;
    };
    if (elf_version(EV_CURRENT) == EV_NONE)
        return refuse("the ELF library cannot be used");
    // The library may convert what it reads in place: it gets a copy.
    std::vector<char> copy(file.begin(), file.end());
    const std::unique_ptr<Elf, ElfCloser> elf(elf_memory(copy.data(), copy.size()));
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF)
        return refuse("not an ELF file");
    GElf_Ehdr header;
    if (!gelf_getehdr(elf.get(), &header))
        return refuse(std::string("a damaged ELF header: ") + elf_errmsg(-1));
    if (header.e_machine != kMachineAvr)
        return refuse("a program for another processor (ELF machine " +
                      std::to_string(header.e_machine) + "), not for an AVR");
    if (header.e_type != ET_EXEC)
        return refuse("an object file, not a linked program: give the ELF file the linker wrote");
    std::size_t count = 0;
    if (elf_getphdrnum(elf.get(), &count) != 0)
        return refuse(std::string("damaged program headers: ") + elf_errmsg(-1));
    HexImage& image = result.image;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Phdr segment;
        if (!gelf_getphdr(elf.get(), static_cast<int>(i), &segment))
            return refuse("program header " + std::to_string(i) + " is damaged");
        if (segment.p_type != PT_LOAD || segment.p_filesz == 0)
            continue;
        if (segment.p_offset > file.size() || segment.p_filesz > file.size() - segment.p_offset)
            return refuse("segment " + std::to_string(i) +
                          " lies past the end of the file: the file is cut short");
        if (segment.p_paddr >= kAvrHexEnd || segment.p_filesz > kAvrHexEnd - segment.p_paddr)
            return refuse("segment " + std::to_string(i) + " loads at " + Hex(segment.p_paddr) +
                          ", beyond every AVR memory");
        // Segments that do not overlap hold at most the AVR memories' span between them.
        if (segment.p_filesz > kAvrHexEnd - image.bytes.size())
            return refuse("two segments load the same addresses");
        image.runs.push_back(
            {segment.p_paddr, image.bytes.size(), static_cast<std::size_t>(segment.p_filesz)});
        const auto* from = file.data() + segment.p_offset;
        image.bytes.insert(image.bytes.end(), from, from + segment.p_filesz);
    }
    if (image.runs.empty())
        return refuse("the ELF file loads nothing");
    std::vector<HexImage::Run> sorted = image.runs;
    std::ranges::sort(sorted, {}, &HexImage::Run::address);
    for (std::size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i].address < sorted[i - 1].address + sorted[i - 1].size)
            return refuse("two segments load " + Hex(sorted[i].address));
    image.endRecord = true;
    return result;
}

} // namespace vardel
