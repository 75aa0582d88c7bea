// Whatever a project file holds, its parser gives a project or the first bad line; the text written
// for a project parses back to the same text, and a new serial number rewritten into the file is
// the one read back.
#include "files/project_file.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vardel;
    const ProjectParse parse = ParseProject(std::span(data, size));
    if (!parse.ok()) {
        if (parse.error.rfind("line ", 0) != 0 || !parse.project.part.empty())
            __builtin_trap();
        return 0;
    }
    const std::string text = ProjectText(parse.project);
    const auto bytes = [](const std::string& s) {
        return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    const ProjectParse again = ParseProject(bytes(text));
    if (!again.ok() || ProjectText(again.project) != text)
        __builtin_trap();
    if (parse.project.serial) {
        const std::string renumbered =
            WithNextSerial(std::string_view(reinterpret_cast<const char*>(data), size), 12345);
        const ProjectParse next = ParseProject(bytes(renumbered));
        if (!next.ok() || !next.project.serial || next.project.serial->next != 12345)
            __builtin_trap();
        SerialBytes(*parse.project.serial, parse.project.serial->next);
    }
    return 0;
}
