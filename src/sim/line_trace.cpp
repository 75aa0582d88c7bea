#include "sim/line_trace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace vardel::sim {

namespace {
constexpr const char* kNames[8] = {"vcc", "scl", "sda", "xtal", "reset", "mosi", "sck", "miso"};
constexpr char kIds[8] = {'!', '"', '#', '$', '%', '&', '\'', '('};
} // namespace

LineTrace* LineTrace::create(const std::string& fileName, std::string& error)
{
    // Opened without blocking: a FIFO that nobody reads would otherwise hang the run, with the
    // board in hand, before its first line change.
    const int fd =
        ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int e = errno;
        error = "Can't create trace file " + fileName + ": " +
                (e == ENXIO ? std::string("it is a FIFO that no program reads") : std::strerror(e));
        return nullptr;
    }
    // The writes themselves may wait for a reader that is there.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = ::fdopen(fd, "w");
    if (!f) {
        error = "Can't create trace file " + fileName + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    std::fputs("$date Vardel line trace $end\n$version Vardel 1.2 $end\n$timescale 1 us $end\n"
               "$scope module board $end\n",
               f);
    for (int i = 0; i < 8; ++i)
        std::fprintf(f, "$var wire 1 %c %s $end\n", kIds[i], kNames[i]);
    std::fputs("$upscope $end\n$enddefinitions $end\n", f);
    return new LineTrace(f, fileName);
}

LineTrace::LineTrace(std::FILE* file, std::string fileName)
    : file_(file), fileName_(std::move(fileName))
{
}

LineTrace::~LineTrace()
{
    std::string error;
    finish(error);
}

bool LineTrace::finish(std::string& error)
{
    if (!file_)
        return true;
    // One last sample a little later, so viewers show the final levels for a while.
    if (lastTime_ >= 0)
        std::fprintf(file_, "#%lld\n", static_cast<long long>(lastTime_ + 10));
    errno = 0;
    const bool flushed = std::fflush(file_) == 0;
    const int err = errno;
    bool written = flushed && !std::ferror(file_);
    written = std::fclose(file_) == 0 && written;
    file_ = nullptr;
    if (!written)
        error = "Can't write trace file " + fileName_ + ": " +
                (err ? std::strerror(err) : "a write failed, the trace is cut short");
    return written;
}

void LineTrace::record(std::int64_t nanoseconds, std::uint8_t levels)
{
    if (levels == levels_ || !file_)
        return;
    std::int64_t t = nanoseconds / 1000;
    if (t <= lastTime_)
        t = lastTime_ + 1;
    std::fprintf(file_, "#%lld\n", static_cast<long long>(t));
    for (int i = 0; i < 8; ++i) {
        const int bit = 1 << i;
        if (levels_ < 0 || ((levels ^ levels_) & bit))
            std::fprintf(file_, "%c%c\n", (levels & bit) ? '1' : '0', kIds[i]);
    }
    levels_ = levels;
    lastTime_ = t;
}

std::uint8_t LineTrace::outputsOf(std::uint8_t data)
{
    std::uint8_t s = 0;
    if (data & 0x07)
        s |= Vcc;
    if (data & 0x08)
        s |= Scl | Xtal;
    if (data & 0x10)
        s |= Sda | Reset;
    if (data & 0x20)
        s |= Mosi;
    if (data & 0x40)
        s |= Sck;
    return s;
}

} // namespace vardel::sim
