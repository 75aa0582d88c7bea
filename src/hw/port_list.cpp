#include "hw/port_list.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace fs = std::filesystem;

namespace {

std::string FirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    return line;
}

int OpenErrorOf(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

std::string GroupOf(const std::string& device)
{
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return {};
    if (const group* g = ::getgrgid(st.st_gid))
        return g->gr_name;
    return std::to_string(st.st_gid);
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
                  const std::function<int(const std::string& device)>& openError)
{
    std::vector<ParallelPortInfo> ports;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(procRoot, ec)) {
        const std::string name = entry.path().filename().string();
        // "default" beside the ports holds the kernel's defaults, not a port.
        if (name.rfind("parport", 0) != 0 || name.size() == 7 ||
            !std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        ParallelPortInfo p;
        p.number = std::stoi(name.substr(7));
        // "base-addr" holds the base address and the ECP registers' base, in decimal.
        std::istringstream base(FirstLine(entry.path() / "base-addr"));
        unsigned long address = 0;
        if (base >> address && address <= 0xFFFF)
            p.base = static_cast<unsigned>(address);
        p.modes = FirstLine(entry.path() / "modes");
        const std::string active = FirstLine(entry.path() / "devices" / "active");
        if (active != "none")
            p.claimedBy = active;
        p.device = (fs::path(devRoot) / name).string();
        p.deviceExists = fs::exists(p.device, ec);
        if (p.deviceExists) {
            p.openError = openError ? openError(p.device) : OpenErrorOf(p.device);
            p.deviceGroup = GroupOf(p.device);
        }
        ports.push_back(std::move(p));
    }
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return a.number < b.number; });
    return ports;
}

std::string ParallelPortListing(const std::vector<ParallelPortInfo>& ports, bool root)
{
    if (ports.empty())
        return "No parallel port found: the kernel lists none under /proc/sys/dev/parport (load "
               "its driver: modprobe parport_pc ppdev).\n";
    std::string text;
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
            text += "  claimed now by " + p.claimedBy +
                    (p.claimedBy.rfind("ppdev", 0) == 0
                         ? " (another program uses the port through ppdev)\n"
                         : " (another driver: unload it, for example rmmod lp, or wait until it "
                           "lets the port go)\n");
        if (root && p.base)
            text += "  --port direct:" + Hex(*p.base) + "  direct access (as root, x86)\n";
    }
    if (!root)
        text += "Direct access (--port direct:ADDRESS) is offered to root only.\n";
    return text;
}

} // namespace vardel
