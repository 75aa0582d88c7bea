#include "hw/kernel.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define VARDEL_HAVE_IOPERM 1
#endif

namespace vardel {

namespace {

class SystemKernelImpl final : public Kernel {
public:
    int open(const std::string& path, int flags) override
    {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
        return fd < 0 ? -errno : fd;
    }
    int ioctl(int fd, unsigned long request, void* argument) override
    {
        const int r = ::ioctl(fd, request, argument);
        return r < 0 ? -errno : r;
    }
    void close(int fd) override { ::close(fd); }
    std::optional<std::string> readFile(const std::string& path) override
    {
        std::ifstream in(path);
        if (!in)
            return std::nullopt;
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> listFolder(const std::string& path) override
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(path, ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool exists(const std::string& path) override
    {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }
    std::string ownerGroup(const std::string& path) override
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return {};
        if (const group* g = ::getgrgid(st.st_gid))
            return g->gr_name;
        return std::to_string(st.st_gid);
    }
    std::string resolve(const std::string& path) override
    {
        std::error_code ec;
        const auto resolved = std::filesystem::canonical(path, ec);
        return ec ? path : resolved.string();
    }
    bool root() override { return ::geteuid() == 0; }
    int ioperm(unsigned long from, unsigned long count, bool on) override
    {
#ifdef VARDEL_HAVE_IOPERM
        return ::ioperm(from, count, on ? 1 : 0) == 0 ? 0 : -errno;
#else
        (void)from;
        (void)count;
        (void)on;
        return -ENOSYS;
#endif
    }
    void outb(std::uint8_t value, std::uint16_t port) override
    {
#ifdef VARDEL_HAVE_IOPERM
        ::outb(value, port);
#else
        (void)value;
        (void)port;
#endif
    }
    std::uint8_t inb(std::uint16_t port) override
    {
#ifdef VARDEL_HAVE_IOPERM
        return ::inb(port);
#else
        (void)port;
        return 0xFF;
#endif
    }
};

} // namespace

Kernel& SystemKernel()
{
    static SystemKernelImpl kernel;
    return kernel;
}

} // namespace vardel
