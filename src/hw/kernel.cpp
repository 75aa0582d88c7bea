#include "hw/kernel.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define VARDEL_HAVE_IOPERM 1
#endif

namespace vardel {

namespace {

// The signal that wakes a sleeping ioctl: its handler does nothing, and it is installed without
// SA_RESTART so that the ioctl returns EINTR.
constexpr int kWakeSignal = SIGALRM;
void Woken(int) {}

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
    int ioctlWithin(int fd, unsigned long request, void* argument, std::uint32_t limitMs) override
    {
        struct sigaction wake {
        }, previous{};
        wake.sa_handler = Woken;
        sigemptyset(&wake.sa_mask);
        if (::sigaction(kWakeSignal, &wake, &previous) != 0)
            return ioctl(fd, request, argument);
        sigset_t unblocked, mask;
        sigemptyset(&unblocked);
        sigaddset(&unblocked, kWakeSignal);
        pthread_sigmask(SIG_UNBLOCK, &unblocked, &mask);
        // A watchdog signals this thread once the time is out, and again every 50 ms, in case the
        // first signal came just before the ioctl went to sleep.
        const pthread_t caller = pthread_self();
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock lock(m);
            auto wait = std::chrono::milliseconds(limitMs);
            while (!cv.wait_for(lock, wait, [&] { return done; })) {
                pthread_kill(caller, kWakeSignal);
                wait = std::chrono::milliseconds(50);
            }
        });
        const int r = ::ioctl(fd, request, argument);
        const int err = errno;
        {
            std::lock_guard lock(m);
            done = true;
        }
        cv.notify_one();
        watchdog.join();
        pthread_sigmask(SIG_SETMASK, &mask, nullptr);
        ::sigaction(kWakeSignal, &previous, nullptr);
        return r < 0 ? -err : r;
    }
    int flock(int fd, int operation) override { return ::flock(fd, operation) == 0 ? 0 : -errno; }
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
