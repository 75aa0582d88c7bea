#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

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
};

// The ports under `procRoot` (normally /proc/sys/dev/parport), parportN matched with the device N
// under `devRoot` (normally /dev), in the order of their numbers. `openError` tells whether a
// device opens (0) or why not (errno); by default it opens the device and closes it again, which
// does not claim the port or touch a line.
std::vector<ParallelPortInfo>
FindParallelPorts(const std::string& procRoot, const std::string& devRoot,
                  const std::function<int(const std::string& device)>& openError = {});

// What `vardel-cli ports` prints: each port with its base address, whether the user may open its
// device (and if not, why), and the --port text for it; direct:ADDRESS too when `root`.
std::string ParallelPortListing(const std::vector<ParallelPortInfo>& ports, bool root);

} // namespace vardel
