#pragma once

#include "hw/kernel.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

// Where the kernel shows its parallel ports.
inline constexpr const char* kParportProc = "/proc/sys/dev/parport";
inline constexpr const char* kPpdevClass = "/sys/class/ppdev";

// One parallel port the kernel knows, as its parport information under /proc/sys/dev/parport and
// its ppdev device show it.
struct ParallelPortInfo {
    int number = 0;               // N of parportN
    std::optional<unsigned> base; // the base address (data register), when the kernel gives it
    std::string modes;            // "PCSPP,TRISTATE,EPP", as the kernel lists them
    std::string claimedBy;        // the driver holding the port now, empty when none
    std::string device;           // the ppdev device, "/dev/parportN"
    bool deviceExists = false;
    int openError = 0;       // errno of opening the device to read and write, 0 when it opens
    std::string deviceGroup; // the group the device belongs to
    bool onUsb = false;      // the port sits behind a USB adapter (USS-720 and the like)
};

// The ports under `procRoot` (normally /proc/sys/dev/parport), parportN matched with the device N
// under `devRoot` (normally /dev), in the order of their numbers. `openError` tells whether a
// device opens (0) or why not (errno); by default it opens the device and closes it again, which
// does not claim the port or touch a line. `sysClass` (normally /sys/class/ppdev) shows the bus
// each port's device sits on.
std::vector<ParallelPortInfo>
FindParallelPorts(const std::string& procRoot, const std::string& devRoot,
                  const std::function<int(const std::string& device)>& openError = {},
                  Kernel& kernel = SystemKernel(), const std::string& sysClass = kPpdevClass);

// The USB printer adapters (usblp's /dev/usb/lpN under `devRoot`), which cannot drive the board.
std::vector<std::string> FindUsbPrinterAdapters(const std::string& devRoot,
                                                Kernel& kernel = SystemKernel());

// Whether a device name is a USB printer adapter's (/dev/usb/lpN), and what to tell its user.
bool IsUsbPrinterAdapter(const std::string& device);
std::string UsbPrinterAdapterText(const std::string& device);

// The holder named when another Vardel program is claiming the port (it holds the device's lock).
inline constexpr const char* kAnotherVardel = "vardel";

// Who holds a port, as the kernel's "devices/active" names it, said for the user: "the printer
// driver lp (unload it: rmmod lp)", "another program through ppdev (ppdev0)".
std::string PortHolderText(const std::string& active);

// What `vardel-cli ports` prints: each port with its base address, whether the user may open its
// device (and if not, why), and the --port text for it; direct:ADDRESS too when `root`. Then the
// USB printer adapters, which cannot be used.
std::string ParallelPortListing(const std::vector<ParallelPortInfo>& ports, bool root,
                                const std::vector<std::string>& usbPrinters = {});

} // namespace vardel
