#include "hw/port_list.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>

namespace vardel {

namespace {

std::string FirstLine(Kernel& kernel, const std::string& file)
{
    std::string line = kernel.readFile(file).value_or("");
    line = line.substr(0, line.find('\n'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.pop_back();
    return line;
}

std::string Hex(unsigned value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", value);
    return buf;
}

// Why the user cannot use the device, and what to do about it.
std::string WhyNot(const ParallelPortInfo& p)
{
    if (!p.deviceExists)
        return "cannot be opened: " + p.device +
               " does not exist (load the ppdev module: modprobe ppdev)";
    switch (p.openError) {
    case EACCES:
    case EPERM: {
        const std::string group = p.deviceGroup.empty() ? "lp" : p.deviceGroup;
        if (group == "root")
            return "cannot be opened: permission denied; only root may open the device (a udev "
                   "rule can give it to the group lp)";
        return "cannot be opened: permission denied; the device belongs to the group " + group +
               " (sudo adduser $USER " + group + ", then log in again)";
    }
    case ENXIO:
    case ENODEV:
        return "cannot be opened: no ppdev port behind the device (" +
               std::string(std::strerror(p.openError)) +
               "; is the ppdev module loaded, or has another driver taken the port?)";
    case EBUSY:
        return "cannot be opened: the port is busy (another driver or program holds it)";
    default:
        return "cannot be opened: " + std::string(std::strerror(p.openError));
    }
}

} // namespace

std::vector<ParallelPortInfo>
FindParallelPorts(const std::string& procRoot, const std::string& devRoot,
                  const std::function<int(const std::string& device)>& openError, Kernel& kernel,
                  const std::string& sysClass)
{
    std::vector<ParallelPortInfo> ports;
    for (const std::string& name : kernel.listFolder(procRoot)) {
        const std::string entry = procRoot + "/" + name;
        // "default" beside the ports holds the kernel's defaults, not a port.
        if (name.rfind("parport", 0) != 0 || name.size() == 7 ||
            !std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        ParallelPortInfo p;
        p.number = std::stoi(name.substr(7));
        // "base-addr" holds the base address and the ECP registers' base, in decimal.
        std::istringstream base(FirstLine(kernel, entry + "/base-addr"));
        unsigned long address = 0;
        if (base >> address && address <= 0xFFFF)
            p.base = static_cast<unsigned>(address);
        p.modes = FirstLine(kernel, entry + "/modes");
        const std::string active = FirstLine(kernel, entry + "/devices/active");
        if (active != "none")
            p.claimedBy = active;
        p.device = devRoot + "/" + name;
        p.deviceExists = kernel.exists(p.device);
        if (p.deviceExists) {
            if (openError) {
                p.openError = openError(p.device);
            } else {
                const int fd = kernel.open(p.device, O_RDWR);
                p.openError = fd < 0 ? -fd : 0;
                if (fd >= 0)
                    kernel.close(fd);
            }
            p.deviceGroup = kernel.ownerGroup(p.device);
        }
        // A port on a USB adapter has its device below the USB controller in the device tree.
        p.onUsb = kernel.resolve(sysClass + "/" + name).find("/usb") != std::string::npos;
        ports.push_back(std::move(p));
    }
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return a.number < b.number; });
    return ports;
}

std::vector<std::string> FindUsbPrinterAdapters(const std::string& devRoot, Kernel& kernel)
{
    std::vector<std::string> adapters;
    for (const std::string& name : kernel.listFolder(devRoot + "/usb"))
        if (name.rfind("lp", 0) == 0)
            adapters.push_back(devRoot + "/usb/" + name);
    return adapters;
}

bool IsUsbPrinterAdapter(const std::string& device)
{
    const auto slash = device.rfind('/');
    return slash != std::string::npos && slash >= 4 && device.compare(slash - 4, 4, "/usb") == 0 &&
           device.compare(slash + 1, 2, "lp") == 0;
}

std::string UsbPrinterAdapterText(const std::string& device)
{
    return device +
           " is a USB printer adapter: it hands whole bytes to a printer through its own "
           "handshake and cannot set the port's lines one at a time, so it cannot drive the "
           "board. Use a parallel port of the machine or of a PCI or PCIe card (vardel-cli ports "
           "lists them)";
}

std::string PortHolderText(const std::string& active)
{
    if (active.rfind("ppdev", 0) == 0)
        return "another program through ppdev (" + active +
               "; the Vardel window holds the port only while a command runs)";
    if (active == kAnotherVardel)
        return "another Vardel program, which is claiming it";
    if (active == "lp" || active.rfind("lp", 0) == 0)
        return "the printer driver " + active + " (unload it: rmmod lp)";
    return "the driver " + active;
}

std::string ParallelPortListing(const std::vector<ParallelPortInfo>& ports, bool root,
                                const std::vector<std::string>& usbPrinters)
{
    std::string text;
    if (ports.empty())
        text = "No parallel port found: the kernel lists none under /proc/sys/dev/parport (load "
               "its driver: modprobe parport_pc ppdev).\n";
    for (const ParallelPortInfo& p : ports) {
        text += "parport" + std::to_string(p.number) + ": base address " +
                (p.base ? Hex(*p.base) : std::string("unknown"));
        if (!p.modes.empty())
            text += ", modes " + p.modes;
        text += "\n";
        text += "  --port ppdev:" + p.device + "  ";
        text += p.deviceExists && p.openError == 0 ? "you may open it" : WhyNot(p);
        text += "\n";
        if (!p.claimedBy.empty())
            text += "  claimed now by " + PortHolderText(p.claimedBy) + "\n";
        if (p.onUsb)
            text += "  warning: this port is on a USB adapter, which passes each access on about "
                    "a millisecond later; the bit delay no longer separates the line changes and "
                    "the board may not work on it\n";
        if (p.base && *p.base == 0)
            text += "  warning: the kernel gives this port no base address (a USB adapter's "
                    "port): it has no registers to reach directly\n";
        else if (root && p.base && !p.onUsb)
            text += "  --port direct:" + Hex(*p.base) + "  direct access (as root, x86)\n";
    }
    if (!root && !ports.empty())
        text += "Direct access (--port direct:ADDRESS) is offered to root only.\n";
    for (const std::string& adapter : usbPrinters)
        text += UsbPrinterAdapterText(adapter) + ".\n";
    return text;
}

} // namespace vardel
