#include "hw/port_spec.h"

#include "hw/gpio_port.h"

#include <algorithm>
#include <cstdio>

namespace vardel {

PortSpec SplitPortSpec(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return {text, {}};
    return {text.substr(0, colon), text.substr(colon + 1)};
}

std::optional<std::uint16_t> ParsePortAddress(const std::string& text)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return std::nullopt;
    try {
        std::size_t used = 0;
        const unsigned long v = std::stoul(text, &used, 0);
        if (used != text.size() || v > 0xFFFF)
            return std::nullopt;
        return static_cast<std::uint16_t>(v);
    } catch (...) {
        return std::nullopt;
    }
}

std::vector<std::uint16_t> DirectAddresses(Kernel& kernel, const std::string& procRoot)
{
    std::vector<std::uint16_t> addresses;
    for (const ParallelPortInfo& p : FindParallelPorts(
             procRoot, "/dev", [](const std::string&) { return 0; }, kernel))
        if (p.base && *p.base != 0 && !p.onUsb)
            addresses.push_back(static_cast<std::uint16_t>(*p.base));
    if (addresses.empty())
        addresses = {0x378, 0x278, 0x3BC};
    return addresses;
}

GpioSpec SplitGpioSpec(const std::string& argument, const std::string& storedMap)
{
    const auto colon = argument.find(':');
    if (colon == std::string::npos)
        return {argument, storedMap};
    return {argument.substr(0, colon), argument.substr(colon + 1)};
}

std::string PortSpecUsageError(const std::string& text, Kernel& kernel, const std::string& procRoot,
                               const std::string& storedGpioMap, bool requireGpioMap)
{
    const PortSpec named = SplitPortSpec(text);
    if (named.kind == "gpio") {
        const GpioSpec gpio = SplitGpioSpec(named.argument, storedGpioMap);
        if (gpio.chip.empty())
            return std::string("gpio: needs the chip, as gpio:CHIP[:MAP] (for example "
                               "gpio:gpiochip0:") +
                   kGpioMapExample + ")";
        if (gpio.map.empty() && !requireGpioMap)
            return {};
        if (gpio.map.empty())
            return "no GPIO map for " + gpio.chip + ": give it as gpio:" + gpio.chip +
                   ":MAP or set it in the configuration dialog (MAP for example " +
                   kGpioMapExample + ")";
        std::string error;
        if (!ParseGpioMap(gpio.map, error))
            return error;
        return {};
    }
    if (named.kind != "direct" || named.argument.empty())
        return {};
    const auto address = ParsePortAddress(named.argument);
    if (!address)
        return "invalid port address '" + named.argument + "' (for example direct:0x378)";
    const std::vector<std::uint16_t> allowed = DirectAddresses(kernel, procRoot);
    if (std::find(allowed.begin(), allowed.end(), *address) != allowed.end())
        return {};
    std::string list;
    for (const std::uint16_t a : allowed) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%X", a);
        list += (list.empty() ? "" : ", ") + std::string(buf);
    }
    char given[16];
    std::snprintf(given, sizeof given, "0x%X", *address);
    const std::string why =
        *address == 0 ? std::string("a port the kernel lists at 0, on a USB adapter, has no "
                                    "registers to reach")
                      : std::string(given) + " belongs to another device of the machine, whose "
                                             "registers direct access would write";
    return "direct:" + named.argument + " is not a parallel port's base address (" + why +
           "); direct access takes " + list;
}

} // namespace vardel
