#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vardel {

// The two registers of the first parallel port that the board uses.
constexpr std::uint16_t LptDataPort = 0x378;
constexpr std::uint16_t LptStatusPort = 0x379;

// A port access that did not happen: the card was pulled, another driver took the port, the device
// is not a parallel port. Nothing was written, and a status byte was not read, so no bit of it may
// be taken for a line level.
class PortError : public std::runtime_error {
public:
    // `port` as the user knows it ("parallel port /dev/parport0"), `cause` what went wrong.
    PortError(const std::string& port, const std::string& cause)
        : std::runtime_error(port + ": " + cause), port_(port), cause_(cause)
    {
    }
    const std::string& port() const { return port_; }
    const std::string& cause() const { return cause_; }

private:
    std::string port_;
    std::string cause_;
};

// One way of reaching the port's registers. Exactly one backend is chosen when a program starts;
// only the line driver calls it. Both accesses throw PortError when the port fails.
class PortIo {
public:
    virtual ~PortIo() = default;
    virtual void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t DlPortReadPortUchar(std::uint16_t port) = 0;
    // What the user is told about the board in use ("parallel port /dev/parport0", ...).
    virtual std::string describe() const = 0;
    // A real port is the kernel's to share: it is claimed for each chip operation and released
    // between them. A claim drives every line low first thing; false and a message naming the
    // port (and who holds it) when the port cannot be had.
    virtual bool claim(std::string& error)
    {
        (void)error;
        return true;
    }
    virtual void release() {}
    // The lines stay as the last write left them when the port is closed (`vardel-cli lines`);
    // otherwise closing the port drives them low.
    virtual void leaveLinesAtClose() {}
    // Whether lines left as set stay so once the program has let the port go (a parallel port's
    // registers keep what was written).
    virtual bool keepsLinesWhenLetGo() const { return true; }
    // Whether the lines, and the supply the board takes from them, are a parallel port's, which
    // drives its lines high at 3.3 V on some cards and 5 V on others; a GPIO header's are 3.3 V.
    // The simulated board stands in for a parallel-port board.
    virtual bool parallelPortLevels() const { return true; }
};

} // namespace vardel
