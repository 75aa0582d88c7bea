#pragma once

#include "hw/kernel.h"
#include "hw/parallel_ports.h"
#include "hw/port_io.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

// Which GPIO line carries each line of the board's connector: the data bits D0 to D7 (outputs)
// and the two status inputs, SDA on BUSY (pin 11, status bit 7, which the parallel port reads
// inverted) and MISO on ACK (pin 10, status bit 6). Data bits wired together (the supply bits)
// may share a line. A bit without a line is not driven.
struct GpioMap {
    std::array<std::optional<unsigned>, 8> data;
    std::optional<unsigned> sda;
    std::optional<unsigned> miso;
    bool operator==(const GpioMap&) const = default;
};

// Reads "d0=17,d1=27,d2=22,d3=23,d4=24,d5=25,d6=5,in=6": dN the data bit N, sda and miso the two
// inputs, in both inputs on one line. Nothing, and the reason, when the text is not such a map.
std::optional<GpioMap> ParseGpioMap(const std::string& text, std::string& error);
std::string GpioMapText(const GpioMap& map);
inline constexpr const char* kGpioMapExample = "d0=17,d1=27,d2=22,d3=23,d4=24,d5=25,d6=5,in=6";

// A GPIO chip of the character device, for `vardel-cli ports`.
struct GpioChipInfo {
    std::string device; // "/dev/gpiochip0"
    std::string name;   // "gpiochip0"
    std::string label;  // "pinctrl-bcm2711"
    unsigned lines = 0;
    int openError = 0; // errno of opening the device, 0 when it opens
    std::string group; // the group the device belongs to
    struct Used {
        unsigned offset;
        std::string consumer;
    };
    std::vector<Used> used; // the lines others have requested
};
std::vector<GpioChipInfo> FindGpioChips(Kernel& kernel = SystemKernel(),
                                        const std::string& devRoot = "/dev");
std::string GpioChipListing(const std::vector<GpioChipInfo>& chips);

// The device of --port gpio:CHIP: CHIP is a device path, a chip's name ("gpiochip0") or a chip's
// label ("pinctrl-bcm2711", found by asking each chip). Empty, and the reason, when no chip or
// more than one answers to it.
std::string ResolveGpioChip(const std::string& chip, Kernel& kernel, std::string& error,
                            const std::string& devRoot = "/dev");

// The board on a GPIO chip through the kernel's character device (the v2 interface): all the
// mapped lines in one request for each chip operation (the outputs low from the first moment, the
// inputs with the pull-up the board's open inputs need), a data byte written with one set-values
// call and the inputs read with one get-values call, the lines let go between operations and at
// close (driven low first unless told to leave them).
class GpioPort final : public RealPort {
public:
    // CHIP as ResolveGpioChip takes it.
    static std::unique_ptr<GpioPort> open(const std::string& chip, const GpioMap& map,
                                          const RealPortContext& context, std::string& error);
    ~GpioPort() override;
    bool parallelPortLevels() const override { return false; }

    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override;
    std::string describe() const override;
    bool claim(std::string& error) override;
    void release() override;
    // Released lines keep their levels on some kernels and go back to inputs on others.
    bool keepsLinesWhenLetGo() const override { return false; }

private:
    GpioPort(int fd, std::string device, const GpioMap& map, const RealPortContext& context);
    // Why line `offset` cannot be had: who uses it, as the kernel's line information says.
    std::string busyLine() const;
    std::string offsetsText() const;
    // "/dev/gpiochip0 [pinctrl-bcm2711]"
    std::string chipText() const;
    [[noreturn]] void fail(const char* what, int err) const;

    int chipFd_;
    int requestFd_ = -1;
    std::string device_;
    std::string label_;
    GpioMap map_;
    std::vector<unsigned> offsets_; // the request's lines: the outputs, then the inputs
    std::size_t outputs_ = 0;
};

} // namespace vardel
