// vardel-cli: converts files by itself and hands every other command to vardel-cli-core, which
// carries the board, the chips and Qt. Starting Qt costs a few milliseconds, more than a whole
// conversion of a small image.
#include "cli/cli_convert.h"
#include "files/file_access.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::string ownFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string folder(path);
    const auto slash = folder.rfind('/');
    return slash == std::string::npos ? "." : folder.substr(0, slash);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "convert") == 0) {
        // Ctrl-C or a closed terminal must not leave a half-written image beside the output.
        vardel::RemoveTemporariesOnSignals();
        int status = vardel::cli::Convert(std::vector<std::string>(argv + 2, argv + argc));
        // Messages that could not be written fail the run as well.
        if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::fflush(stderr) != 0 ||
            std::ferror(stderr))
            status = 1;
        return status;
    }

    // Beside this program in the build, under libexec once installed.
    const std::string folder = ownFolder();
    for (const std::string& core :
         {folder + "/vardel-cli-core", folder + "/../libexec/vardel/vardel-cli-core"}) {
        if (::access(core.c_str(), X_OK) == 0) {
            ::execv(core.c_str(), argv);
            std::fprintf(stderr, "vardel-cli: cannot start %s: %s\n", core.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    std::fprintf(stderr, "vardel-cli: vardel-cli-core is missing beside %s\n", folder.c_str());
    return 1;
}
