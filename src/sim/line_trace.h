#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vardel::sim {

// The board's lines as a logic analyser sees them, written as a VCD file (PulseView, GTKWave,
// sigrok-cli): one signal per line, a sample only where a line changed, timestamps strictly
// increasing, one unit a microsecond.
class LineTrace {
public:
    enum Signal : std::uint8_t {
        Vcc = 1 << 0,
        Scl = 1 << 1,
        Sda = 1 << 2,
        Xtal = 1 << 3,
        Reset = 1 << 4,
        Mosi = 1 << 5,
        Sck = 1 << 6,
        Miso = 1 << 7,
    };

    // Empty result and a message when the file cannot be created.
    static LineTrace* create(const std::string& fileName, std::string& error);
    ~LineTrace();
    // Writes the last sample and closes the file; false and a message when any write failed (a
    // full disk cuts the trace short).
    bool finish(std::string& error);
    LineTrace(const LineTrace&) = delete;
    LineTrace& operator=(const LineTrace&) = delete;

    // The levels of all eight lines (Signal bits) at the given time.
    void record(std::int64_t nanoseconds, std::uint8_t levels);

    // The lines of both wirings as the data byte sets them.
    static std::uint8_t outputsOf(std::uint8_t data);

private:
    LineTrace(std::FILE* file, std::string fileName);
    std::FILE* file_;
    std::string fileName_;
    std::int64_t lastTime_ = -1;
    int levels_ = -1;
};

} // namespace vardel::sim
