#pragma once

// A double of the kernel side of the real ports: ppdev's ioctls on /dev/parportN devices backed
// by a board (the simulated one), the /proc/sys/dev/parport entries that go with them, and the
// x86 port instructions of direct access. It behaves as the kernel's ppdev does: PPCLAIM fails
// with the errno a test sets and sleeps while another holds the port (nothing else runs while it
// sleeps, so an unbounded one fails the test; a bounded one ends with EINTR unless the holder goes
// meanwhile), accesses without a claim fail with EINVAL, flock keeps two opens of a device apart,
// and a port whose card is removed answers with the dummy operations (writes taken, status 0) and
// loses its /proc entry. Its GPIO chips speak the v2 interface of the character device (chip and
// line information, one request for several lines, set and get values, EBUSY for a line another
// holds or one named twice in a request, EINVAL for a values call with an empty mask, ENODEV once
// the chip is gone, and released lines back to inputs when the chip is set to); the board's
// connector is wired to chosen lines of a chip.

#include "hw/kernel.h"
#include "hw/port_io.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/ioctl.h>

#include <linux/gpio.h>
#include <linux/parport.h>
#include <linux/ppdev.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vardel::test {

class FakeKernel : public Kernel {
public:
    struct Parport {
        std::string device;      // "/dev/parport0"
        std::string proc;        // "/proc/sys/dev/parport/parport0"
        PortIo* board = nullptr; // what the data lines reach; null: nothing on the connector
        int claimErrno = 0;      // PPCLAIM fails with this
        bool claimed = false;
        bool removed = false; // the card is gone: dummy operations
        // Another holder named in devices/active, gone after this many reads of the entry
        // (-1: keeps the port).
        std::string otherHolder;
        int holderLeavesAfterReads = -1;
        std::vector<std::uint8_t> writes; // every data byte written through ppdev
        int claims = 0;
        int claimFd = -1;                   // the open device that holds the claim
        int claimWaits = 0;                 // bounded PPCLAIMs that slept
        std::size_t outsBeforeClaim = 0;    // direct writes done before the last PPCLAIM
        std::function<void()> onActiveRead; // runs after each read of devices/active
    };

    std::map<std::string, std::string> files;
    std::map<std::string, int> openErrors;
    std::map<std::string, std::string> groups;
    std::map<std::string, std::string> links;
    std::set<std::string> extraDevices;
    std::map<std::string, Parport> parports; // by device
    bool isRoot = false;
    int iopermErrno = 0;
    std::map<std::uint16_t, std::uint8_t> registers; // direct access: what inb reads
    std::vector<std::pair<std::uint16_t, std::uint8_t>> outs;
    PortIo* directBoard = nullptr;
    std::uint16_t directBase = 0x378;

    struct GpioChip {
        std::string device; // "/dev/gpiochip0"
        std::string label;
        unsigned lines = 54;
        std::map<unsigned, std::string> usedBy; // lines other consumers hold
        // The board's connector on the chip: which line each data bit and each input is on.
        std::array<std::optional<unsigned>, 8> data;
        std::optional<unsigned> sda, miso;
        PortIo* board = nullptr;
        bool removed = false;
        std::map<unsigned, bool> outputs; // the level of each output line
        std::set<unsigned> pulledUp;      // inputs requested with the pull-up
        std::set<unsigned> requested;     // lines a request of ours holds
        std::vector<std::uint8_t> bytes;  // every data byte the board's connector saw
        int requests = 0;
        // Released lines go back to inputs (mainline pinctrl drivers); otherwise they keep their
        // levels (the Raspberry Pi's kernel).
        bool revertOnRelease = false;
    };
    std::map<std::string, GpioChip> gpioChips;

    GpioChip& addGpioChip(int number, PortIo* board)
    {
        GpioChip& chip = gpioChips["/dev/gpiochip" + std::to_string(number)];
        chip.device = "/dev/gpiochip" + std::to_string(number);
        chip.label = "pinctrl-test";
        chip.board = board;
        return chip;
    }
    void removeChip(GpioChip& chip) { chip.removed = true; }

    // A parport N at `base`, its device /dev/parportN reaching `board`.
    Parport& addParport(int number, unsigned base, PortIo* board)
    {
        const std::string name = "parport" + std::to_string(number);
        Parport& p = parports["/dev/" + name];
        p.device = "/dev/" + name;
        p.proc = "/proc/sys/dev/parport/" + name;
        p.board = board;
        files[p.proc + "/base-addr"] = std::to_string(base) + "\t0\n";
        files[p.proc + "/modes"] = "PCSPP,TRISTATE\n";
        files[p.proc + "/devices/active"] = "none\n";
        return p;
    }
    // The card pulled out: the kernel's dummy operations from now on, and no /proc entry.
    void removeCard(Parport& p)
    {
        p.removed = true;
        for (auto it = files.begin(); it != files.end();)
            it = it->first.rfind(p.proc, 0) == 0 ? files.erase(it) : std::next(it);
        extraDevices.erase(p.device);
    }

    int open(const std::string& path, int) override
    {
        if (const auto e = openErrors.find(path); e != openErrors.end())
            return -e->second;
        if (!exists(path))
            return -ENOENT;
        fds_[next_] = path;
        return next_++;
    }
    int ioctl(int fd, unsigned long request, void* argument) override
    {
        if (const auto r = requests_.find(fd); r != requests_.end())
            return lineRequest(r->second, request, argument);
        const auto f = fds_.find(fd);
        if (f == fds_.end())
            return -EBADF;
        if (const auto g = gpioChips.find(f->second); g != gpioChips.end())
            return gpioChip(g->second, request, argument);
        const auto pp = parports.find(f->second);
        if (pp == parports.end())
            return -ENOTTY;
        Parport& p = pp->second;
        if (request == PPCLAIM) {
            if (p.claimErrno)
                return -p.claimErrno;
            if (p.claimFd == fd)
                return -EINVAL;
            if (heldFrom(p, fd)) {
                // The kernel sleeps until the holder lets go, which cannot happen while the
                // caller sleeps here.
                ADD_FAILURE() << "PPCLAIM on " << p.device << " sleeps for ever: it is held by "
                              << holder(p);
                return -EINTR;
            }
            return grant(p, fd);
        }
        if (p.claimFd != fd)
            return -EINVAL;
        if (!p.claimed)
            return -EINVAL;
        if (request == PPRELEASE) {
            p.claimed = false;
            p.claimFd = -1;
            if (!p.removed)
                files[p.proc + "/devices/active"] = "none\n";
            return 0;
        }
        if (request == PPSETMODE || request == PPDATADIR)
            return 0;
        if (request == PPWDATA) {
            const std::uint8_t v = *static_cast<unsigned char*>(argument);
            p.writes.push_back(v);
            if (!p.removed && p.board)
                p.board->DlPortWritePortUchar(LptDataPort, v);
            return 0;
        }
        if (request == PPRSTATUS) {
            *static_cast<unsigned char*>(argument) =
                p.removed ? 0 : (p.board ? p.board->DlPortReadPortUchar(LptStatusPort) : 0x7F);
            return 0;
        }
        return -ENOTTY;
    }
    int ioctlWithin(int fd, unsigned long request, void* argument, std::uint32_t) override
    {
        const auto f = fds_.find(fd);
        const auto pp = f == fds_.end() ? parports.end() : parports.find(f->second);
        if (request != PPCLAIM || pp == parports.end() || pp->second.claimErrno)
            return ioctl(fd, request, argument);
        Parport& p = pp->second;
        if (!heldFrom(p, fd))
            return ioctl(fd, request, argument);
        ++p.claimWaits;
        // A holder that leaves at all leaves while the claim sleeps; the claim then wakes up.
        if (p.otherHolder.empty() || p.holderLeavesAfterReads < 0)
            return -EINTR;
        p.otherHolder.clear();
        return grant(p, fd);
    }
    int flock(int fd, int operation) override
    {
        const auto f = fds_.find(fd);
        if (f == fds_.end())
            return -EBADF;
        const auto lock = locks_.find(f->second);
        if (operation & LOCK_UN) {
            if (lock != locks_.end() && lock->second == fd)
                locks_.erase(lock);
            return 0;
        }
        if (lock != locks_.end() && lock->second != fd)
            return -EWOULDBLOCK;
        locks_[f->second] = fd;
        return 0;
    }
    void close(int fd) override
    {
        if (const auto r = requests_.find(fd); r != requests_.end()) {
            GpioChip& chip = *r->second.chip;
            for (const unsigned o : r->second.offsets) {
                chip.requested.erase(o);
                if (chip.revertOnRelease) {
                    chip.outputs.erase(o);
                    chip.pulledUp.erase(o);
                }
            }
            if (chip.revertOnRelease)
                drive(chip);
            requests_.erase(r);
            return;
        }
        if (const auto f = fds_.find(fd); f != fds_.end()) {
            if (const auto pp = parports.find(f->second);
                pp != parports.end() && pp->second.claimFd == fd) {
                pp->second.claimed = false;
                pp->second.claimFd = -1;
            }
            if (const auto lock = locks_.find(f->second);
                lock != locks_.end() && lock->second == fd)
                locks_.erase(lock);
            fds_.erase(f);
        }
    }
    std::optional<std::string> readFile(const std::string& path) override
    {
        for (auto& [device, p] : parports)
            if (path == p.proc + "/devices/active" && !p.removed) {
                const std::string text = holder(p) + "\n";
                if (const auto hook = p.onActiveRead)
                    hook();
                return text;
            }
        const auto it = files.find(path);
        if (it == files.end())
            return std::nullopt;
        return it->second;
    }
    std::vector<std::string> listFolder(const std::string& path) override
    {
        std::set<std::string> names;
        const std::string prefix = path + "/";
        auto add = [&](const std::string& p) {
            if (p.rfind(prefix, 0) == 0)
                names.insert(p.substr(prefix.size(), p.find('/', prefix.size()) - prefix.size()));
        };
        for (const auto& [p, text] : files)
            add(p);
        for (const auto& [device, p] : parports)
            if (!p.removed)
                add(device);
        for (const auto& d : extraDevices)
            add(d);
        for (const auto& [device, chip] : gpioChips)
            if (!chip.removed)
                add(device);
        return {names.begin(), names.end()};
    }
    bool exists(const std::string& path) override
    {
        if (const auto pp = parports.find(path); pp != parports.end())
            return !pp->second.removed;
        if (const auto g = gpioChips.find(path); g != gpioChips.end())
            return !g->second.removed;
        return extraDevices.count(path) || files.count(path) || !listFolder(path).empty();
    }
    std::string ownerGroup(const std::string& path) override
    {
        const auto it = groups.find(path);
        return it == groups.end() ? "lp" : it->second;
    }
    std::string resolve(const std::string& path) override
    {
        const auto it = links.find(path);
        return it == links.end() ? path : it->second;
    }
    bool root() override { return isRoot; }
    int ioperm(unsigned long, unsigned long, bool) override { return -iopermErrno; }
    void outb(std::uint8_t value, std::uint16_t port) override
    {
        outs.emplace_back(port, value);
        registers[port] = value;
        if (directBoard && port == directBase)
            directBoard->DlPortWritePortUchar(LptDataPort, value);
    }
    std::uint8_t inb(std::uint16_t port) override
    {
        if (directBoard && port == directBase + 1)
            return directBoard->DlPortReadPortUchar(LptStatusPort);
        const auto it = registers.find(port);
        return it == registers.end() ? 0xFF : it->second;
    }

private:
    struct LineRequest {
        GpioChip* chip;
        std::vector<unsigned> offsets;
        std::vector<bool> output;
    };

    int gpioChip(GpioChip& chip, unsigned long request, void* argument)
    {
        if (chip.removed)
            return -ENODEV;
        if (request == GPIO_GET_CHIPINFO_IOCTL) {
            auto* info = static_cast<gpiochip_info*>(argument);
            const std::string name = chip.device.substr(5);
            std::strncpy(info->name, name.c_str(), sizeof info->name - 1);
            std::strncpy(info->label, chip.label.c_str(), sizeof info->label - 1);
            info->lines = chip.lines;
            return 0;
        }
        if (request == GPIO_V2_GET_LINEINFO_IOCTL) {
            auto* info = static_cast<gpio_v2_line_info*>(argument);
            if (info->offset >= chip.lines)
                return -EINVAL;
            const auto used = chip.usedBy.find(info->offset);
            if (used != chip.usedBy.end() || chip.requested.count(info->offset)) {
                info->flags |= GPIO_V2_LINE_FLAG_USED;
                const std::string consumer = used != chip.usedBy.end() ? used->second : "vardel";
                std::strncpy(info->consumer, consumer.c_str(), sizeof info->consumer - 1);
            }
            return 0;
        }
        if (request != GPIO_V2_GET_LINE_IOCTL)
            return -ENOTTY;
        auto* req = static_cast<gpio_v2_line_request*>(argument);
        if (req->num_lines == 0 || req->num_lines > GPIO_V2_LINES_MAX)
            return -EINVAL;
        LineRequest line{&chip, {}, {}};
        for (unsigned i = 0; i < req->num_lines; ++i) {
            const unsigned offset = req->offsets[i];
            if (offset >= chip.lines)
                return -EINVAL;
            if (chip.usedBy.count(offset) || chip.requested.count(offset) ||
                std::find(line.offsets.begin(), line.offsets.end(), offset) != line.offsets.end())
                return -EBUSY;
            std::uint64_t flags = req->config.flags;
            std::optional<bool> initial;
            for (unsigned a = 0; a < req->config.num_attrs; ++a) {
                const auto& attr = req->config.attrs[a];
                if (!(attr.mask >> i & 1))
                    continue;
                if (attr.attr.id == GPIO_V2_LINE_ATTR_ID_FLAGS)
                    flags = attr.attr.flags;
                else if (attr.attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES)
                    initial = (attr.attr.values >> i & 1) != 0;
            }
            const bool output = (flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0;
            if (output == ((flags & GPIO_V2_LINE_FLAG_INPUT) != 0))
                return -EINVAL;
            line.offsets.push_back(offset);
            line.output.push_back(output);
            if (output)
                chip.outputs[offset] = initial.value_or(false);
            else if (flags & GPIO_V2_LINE_FLAG_BIAS_PULL_UP)
                chip.pulledUp.insert(offset);
        }
        for (const unsigned o : line.offsets)
            chip.requested.insert(o);
        ++chip.requests;
        drive(chip);
        req->fd = next_++;
        requests_[req->fd] = line;
        return 0;
    }

    int lineRequest(LineRequest& line, unsigned long request, void* argument)
    {
        GpioChip& chip = *line.chip;
        if (chip.removed)
            return -ENODEV;
        auto* values = static_cast<gpio_v2_line_values*>(argument);
        if ((request == GPIO_V2_LINE_SET_VALUES_IOCTL ||
             request == GPIO_V2_LINE_GET_VALUES_IOCTL) &&
            values->mask == 0)
            return -EINVAL;
        if (request == GPIO_V2_LINE_SET_VALUES_IOCTL) {
            for (std::size_t i = 0; i < line.offsets.size(); ++i)
                if (values->mask >> i & 1) {
                    if (!line.output[i])
                        return -EPERM;
                    chip.outputs[line.offsets[i]] = (values->bits >> i & 1) != 0;
                }
            drive(chip);
            return 0;
        }
        if (request == GPIO_V2_LINE_GET_VALUES_IOCTL) {
            const std::uint8_t status =
                chip.board ? chip.board->DlPortReadPortUchar(LptStatusPort) : 0x00;
            values->bits = 0;
            for (std::size_t i = 0; i < line.offsets.size(); ++i) {
                if (!(values->mask >> i & 1))
                    continue;
                const unsigned o = line.offsets[i];
                // Pin 11 carries SDA as the bus has it (the port inverts it into bit 7); pin 10
                // carries MISO. A line the board is not on floats to its pull-up.
                bool level = chip.pulledUp.count(o) != 0;
                if (chip.sda == o)
                    level = !(status & 0x80);
                else if (chip.miso == o)
                    level = (status & 0x40) != 0;
                else if (chip.outputs.count(o))
                    level = chip.outputs[o];
                if (level)
                    values->bits |= 1ull << i;
            }
            return 0;
        }
        return -ENOTTY;
    }

    // The data byte the board's connector sees from the chip's output levels.
    void drive(GpioChip& chip)
    {
        std::uint8_t byte = 0;
        for (std::size_t bit = 0; bit < chip.data.size(); ++bit)
            if (chip.data[bit] && chip.outputs[*chip.data[bit]])
                byte = static_cast<std::uint8_t>(byte | (1u << bit));
        chip.bytes.push_back(byte);
        if (chip.board)
            chip.board->DlPortWritePortUchar(LptDataPort, byte);
    }

    std::map<int, LineRequest> requests_;

    // Whether the port is held by anyone but the open device `fd`.
    bool heldFrom(Parport& p, int fd)
    {
        return !p.otherHolder.empty() || (p.claimFd >= 0 && p.claimFd != fd);
    }
    int grant(Parport& p, int fd)
    {
        p.claimed = true;
        p.claimFd = fd;
        p.outsBeforeClaim = outs.size();
        ++p.claims;
        if (!p.removed)
            files[p.proc + "/devices/active"] = "ppdev0\n";
        return 0;
    }
    std::map<std::string, int> locks_; // device: the open device holding its flock

    std::string holder(Parport& p)
    {
        if (p.otherHolder.empty())
            return p.claimed ? "ppdev0" : "none";
        if (p.holderLeavesAfterReads >= 0 && p.holderLeavesAfterReads-- == 0) {
            p.otherHolder.clear();
            return "none";
        }
        return p.otherHolder;
    }
    std::map<int, std::string> fds_;
    int next_ = 3;
};

} // namespace vardel::test
