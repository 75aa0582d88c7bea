#include "hw/gpio_port.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <sys/ioctl.h>

#include <linux/gpio.h>

namespace vardel {

namespace {

constexpr const char* kConsumer = "vardel";

std::string Offsets(const std::vector<unsigned>& offsets)
{
    std::string text;
    for (const unsigned o : offsets)
        text += (text.empty() ? "" : ",") + std::to_string(o);
    return text;
}

std::string PermissionText(const std::string& device, const std::string& group)
{
    if (group.empty() || group == "root")
        return device + " cannot be opened: permission denied; only root may open it (a udev rule "
                        "can give it to the group gpio)";
    return device + " cannot be opened: permission denied; the device belongs to the group " +
           group + " (sudo adduser $USER " + group + ", then log in again)";
}

} // namespace

std::optional<GpioMap> ParseGpioMap(const std::string& text, std::string& error)
{
    GpioMap map;
    std::set<std::string> seen;
    std::istringstream in(text);
    std::string item;
    const std::string form = std::string(" (for example ") + kGpioMapExample + ")";
    auto trimmed = [](const std::string& t) {
        const auto first = t.find_first_not_of(" \t");
        return first == std::string::npos ? std::string()
                                          : t.substr(first, t.find_last_not_of(" \t") - first + 1);
    };
    if (trimmed(text).empty()) {
        error = "the GPIO map is empty" + form;
        return std::nullopt;
    }
    // Which keys name each line, to find a line given twice.
    std::map<unsigned, std::vector<std::string>> keysOf;
    while (std::getline(in, item, ',')) {
        item = trimmed(item);
        const auto eq = item.find('=');
        std::string key = trimmed(item.substr(0, eq == std::string::npos ? 0 : eq));
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const std::string value = eq == std::string::npos ? "" : trimmed(item.substr(eq + 1));
        unsigned long offset = 0;
        std::size_t used = 0;
        bool number = !value.empty() && std::isdigit(static_cast<unsigned char>(value[0]));
        if (number) {
            try {
                offset = std::stoul(value, &used, 10);
            } catch (...) {
                number = false;
            }
        }
        if (!number || used != value.size() || offset >= 4096) {
            error = "'" + item + "' in the GPIO map is not NAME=LINE" + form;
            return std::nullopt;
        }
        if (!seen.insert(key == "in" ? "sda" : key).second ||
            (key == "in" && !seen.insert("miso").second) ||
            ((key == "sda" || key == "miso") && seen.count("in"))) {
            error = key + " is named twice in the GPIO map";
            return std::nullopt;
        }
        const unsigned line = static_cast<unsigned>(offset);
        if (key.size() == 2 && key[0] == 'd' && key[1] >= '0' && key[1] <= '7')
            map.data[static_cast<std::size_t>(key[1] - '0')] = line;
        else if (key == "in")
            map.sda = map.miso = line;
        else if (key == "sda")
            map.sda = line;
        else if (key == "miso")
            map.miso = line;
        else {
            error = "'" + key +
                    "' is no line of the board: the GPIO map names d0 to d7, sda, "
                    "miso or in" +
                    form;
            return std::nullopt;
        }
        keysOf[line].push_back(key);
    }
    // The board drives D0 to D6: the supply (D0 to D2), SCL or XTAL, SDA out or RESET, MOSI, SCK.
    static const char* const kDataLines[] = {"the supply",   "the supply",        "the supply",
                                             "SCL and XTAL", "SDA out and RESET", "MOSI",
                                             "SCK"};
    for (std::size_t bit = 0; bit < std::size(kDataLines); ++bit)
        if (!map.data[bit]) {
            error = "the GPIO map gives d" + std::to_string(bit) + " (" + kDataLines[bit] +
                    ") no line: the board needs d0 to d6" + form;
            return std::nullopt;
        }
    if (!map.sda && !map.miso) {
        error = "the GPIO map gives the board's input no line (in=LINE)" + form;
        return std::nullopt;
    }
    // Only the supply bits may share a line (wired together), and both inputs through `in`.
    for (const auto& [line, keys] : keysOf) {
        if (keys.size() < 2 || std::all_of(keys.begin(), keys.end(), [](const std::string& k) {
                return k == "d0" || k == "d1" || k == "d2";
            }))
            continue;
        const bool data =
            std::any_of(keys.begin(), keys.end(), [](const std::string& k) { return k[0] == 'd'; });
        const bool input =
            std::any_of(keys.begin(), keys.end(), [](const std::string& k) { return k[0] != 'd'; });
        error = "GPIO line " + std::to_string(line) + " is given to both " + keys[0] + " and " +
                keys[1] +
                (data && input ? ": it cannot be both a data bit and the input"
                 : input       ? ": in=" + std::to_string(line) + " puts both inputs on one line"
                               : ": only the supply bits d0 to d2 may share a line");
        return std::nullopt;
    }
    return map;
}

std::string GpioMapText(const GpioMap& map)
{
    std::string text;
    auto add = [&](const std::string& key, const std::optional<unsigned>& line) {
        if (line)
            text += (text.empty() ? "" : ",") + key + "=" + std::to_string(*line);
    };
    for (std::size_t i = 0; i < map.data.size(); ++i)
        add("d" + std::to_string(i), map.data[i]);
    if (map.sda && map.sda == map.miso) {
        add("in", map.sda);
    } else {
        add("sda", map.sda);
        add("miso", map.miso);
    }
    return text;
}

std::vector<GpioChipInfo> FindGpioChips(Kernel& kernel, const std::string& devRoot)
{
    std::vector<GpioChipInfo> chips;
    for (const std::string& name : kernel.listFolder(devRoot)) {
        if (name.rfind("gpiochip", 0) != 0)
            continue;
        GpioChipInfo chip;
        chip.name = name;
        chip.device = devRoot + "/" + name;
        chip.group = kernel.ownerGroup(chip.device);
        const int fd = kernel.open(chip.device, O_RDWR);
        if (fd < 0) {
            chip.openError = -fd;
            chips.push_back(std::move(chip));
            continue;
        }
        gpiochip_info info{};
        if (kernel.ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info) == 0) {
            chip.label = std::string(info.label, strnlen(info.label, sizeof info.label));
            chip.lines = info.lines;
            for (unsigned offset = 0; offset < info.lines; ++offset) {
                gpio_v2_line_info line{};
                line.offset = offset;
                if (kernel.ioctl(fd, GPIO_V2_GET_LINEINFO_IOCTL, &line) == 0 &&
                    (line.flags & GPIO_V2_LINE_FLAG_USED))
                    chip.used.push_back(
                        {offset,
                         std::string(line.consumer, strnlen(line.consumer, sizeof line.consumer))});
            }
        }
        kernel.close(fd);
        chips.push_back(std::move(chip));
    }
    return chips;
}

std::string GpioChipListing(const std::vector<GpioChipInfo>& chips)
{
    if (chips.empty())
        return "No GPIO chip found: the kernel lists no /dev/gpiochipN.\n";
    std::string text;
    for (const GpioChipInfo& chip : chips) {
        text += chip.name + (chip.label.empty() ? "" : " [" + chip.label + "]");
        if (chip.openError == 0)
            text += ": " + std::to_string(chip.lines) + " lines";
        // The label names the chip whatever number the kernel gave it, where no other chip has it.
        const bool unique = !chip.label.empty() && chip.label.find(':') == std::string::npos &&
                            std::count_if(chips.begin(), chips.end(), [&](const GpioChipInfo& c) {
                                return c.label == chip.label;
                            }) == 1;
        text += "\n  --port gpio:" + (unique ? chip.label : chip.name) + ":MAP  ";
        if (chip.openError == EACCES || chip.openError == EPERM)
            text += PermissionText(chip.device, chip.group);
        else if (chip.openError)
            text += "cannot be opened: " + std::string(std::strerror(chip.openError));
        else
            text += "you may open it";
        text += "\n";
        if (!chip.used.empty()) {
            text += "  in use by others:";
            for (const auto& used : chip.used)
                text += " " + std::to_string(used.offset) +
                        (used.consumer.empty() ? "" : " (" + used.consumer + ")");
            text += "\n";
        }
    }
    text += std::string("MAP names the GPIO line of each board line, for example ") +
            kGpioMapExample + "\n";
    return text;
}

GpioPort::GpioPort(int fd, std::string device, const GpioMap& map, const RealPortContext& context)
    : RealPort(context), chipFd_(fd), device_(std::move(device)), map_(map)
{
    for (const auto& d : map_.data)
        if (d && std::find(offsets_.begin(), offsets_.end(), *d) == offsets_.end())
            offsets_.push_back(*d);
    outputs_ = offsets_.size();
    for (const auto& in : {map_.sda, map_.miso})
        if (in && std::find(offsets_.begin(), offsets_.end(), *in) == offsets_.end())
            offsets_.push_back(*in);
}

std::string ResolveGpioChip(const std::string& chip, Kernel& kernel, std::string& error,
                            const std::string& devRoot)
{
    if (chip.find('/') != std::string::npos)
        return chip;
    const std::string named = devRoot + "/" + chip;
    if (kernel.exists(named))
        return named;
    // Not a chip's name: a chip's label ("pinctrl-bcm2711"), which does not change with the order
    // in which the kernel numbers its chips.
    const std::vector<GpioChipInfo> chips = FindGpioChips(kernel, devRoot);
    std::vector<std::string> matches;
    std::string known;
    for (const GpioChipInfo& c : chips) {
        if (c.label == chip)
            matches.push_back(c.device);
        known += (known.empty() ? "" : ", ") + c.name +
                 (c.label.empty() ? std::string() : " [" + c.label + "]");
    }
    if (matches.size() == 1)
        return matches[0];
    if (matches.size() > 1) {
        error = "GPIO chip " + chip + ": " + std::to_string(matches.size()) +
                " chips have that label (" + known + "); give the chip's name instead.";
        return {};
    }
    error = "GPIO chip " + (chip.rfind("gpiochip", 0) == 0 ? named : chip) + " does not exist" +
            (chip.rfind("gpiochip", 0) == 0 ? std::string()
                                            : " (no GPIO chip has that name or label)") +
            ": vardel-cli ports lists the GPIO chips of this machine" +
            (known.empty() ? std::string(" (it has none)") : " (" + known + ")") + ".";
    return {};
}

std::unique_ptr<GpioPort> GpioPort::open(const std::string& chip, const GpioMap& map,
                                         const RealPortContext& context, std::string& error)
{
    Kernel& kernel = context.kernel;
    const std::string device = ResolveGpioChip(chip, kernel, error);
    if (device.empty())
        return nullptr;
    const int fd = kernel.open(device, O_RDWR);
    if (fd < 0) {
        const int err = -fd;
        if (err == ENOENT)
            error = "GPIO chip " + device +
                    " does not exist: vardel-cli ports lists the GPIO chips of this machine.";
        else if (err == EACCES || err == EPERM)
            error = "GPIO chip " + PermissionText(device, kernel.ownerGroup(device)) + ".";
        else
            error = "GPIO chip " + device + " cannot be opened: " + std::strerror(err) + ".";
        return nullptr;
    }
    gpiochip_info info{};
    if (const int r = kernel.ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info); r < 0) {
        kernel.close(fd);
        error = device + " is not a GPIO chip of the character device (GPIO_GET_CHIPINFO: " +
                std::strerror(-r) + ").";
        return nullptr;
    }
    auto port = std::unique_ptr<GpioPort>(new GpioPort(fd, device, map, context));
    port->label_ = std::string(info.label, strnlen(info.label, sizeof info.label));
    for (const unsigned offset : port->offsets_)
        if (offset >= info.lines) {
            error = "GPIO chip " + port->chipText() + " has no line " + std::to_string(offset) +
                    ": it has " + std::to_string(info.lines) + " lines (0 to " +
                    std::to_string(info.lines ? info.lines - 1 : 0) + ").";
            return nullptr;
        }
    if (!port->claim(error))
        return nullptr;
    return port;
}

std::string GpioPort::busyLine() const
{
    for (const unsigned offset : offsets_) {
        gpio_v2_line_info line{};
        line.offset = offset;
        if (context_.kernel.ioctl(chipFd_, GPIO_V2_GET_LINEINFO_IOCTL, &line) == 0 &&
            (line.flags & GPIO_V2_LINE_FLAG_USED)) {
            const std::string consumer(line.consumer, strnlen(line.consumer, sizeof line.consumer));
            return "line " + std::to_string(offset) + " is in use by " +
                   (consumer.empty() ? std::string("another driver or program")
                                     : "\"" + consumer + "\"");
        }
    }
    return "one of lines " + Offsets(offsets_) + " is in use";
}

bool GpioPort::claim(std::string& error)
{
    if (requestFd_ >= 0)
        return true;
    gpio_v2_line_request request{};
    for (std::size_t i = 0; i < offsets_.size(); ++i)
        request.offsets[i] = offsets_[i];
    request.num_lines = static_cast<std::uint32_t>(offsets_.size());
    std::strncpy(request.consumer, kConsumer, sizeof request.consumer - 1);
    const std::uint64_t outputs = outputs_ >= 64 ? ~0ull : (1ull << outputs_) - 1;
    const std::uint64_t all = (1ull << offsets_.size()) - 1;
    request.config.flags = GPIO_V2_LINE_FLAG_OUTPUT;
    // The outputs low from the first moment; the inputs pulled up, as a parallel port's own
    // inputs are.
    request.config.num_attrs = 0;
    auto& low = request.config.attrs[request.config.num_attrs++];
    low.attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
    low.attr.values = 0;
    low.mask = outputs;
    if (all != outputs) {
        auto& in = request.config.attrs[request.config.num_attrs++];
        in.attr.id = GPIO_V2_LINE_ATTR_ID_FLAGS;
        in.attr.flags = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_BIAS_PULL_UP;
        in.mask = all & ~outputs;
    }
    if (const int r = context_.kernel.ioctl(chipFd_, GPIO_V2_GET_LINE_IOCTL, &request); r < 0) {
        const int err = -r;
        if (err == EBUSY)
            error = "GPIO chip " + chipText() + ": " + busyLine() + ".";
        else if (err == ENODEV)
            error = "GPIO chip " + chipText() + " has gone (lines " + Offsets(offsets_) + ").";
        else
            error = "GPIO chip " + chipText() + " does not give lines " + Offsets(offsets_) + ": " +
                    std::strerror(err) + ".";
        return false;
    }
    requestFd_ = request.fd;
    return true;
}

void GpioPort::release()
{
    if (requestFd_ >= 0)
        context_.kernel.close(requestFd_);
    requestFd_ = -1;
}

GpioPort::~GpioPort()
{
    if (!leaveLines_) {
        // A new request drives the outputs low; the lines of another holder stay theirs.
        std::string ignored;
        if (requestFd_ >= 0) {
            gpio_v2_line_values values{};
            values.mask = outputs_ >= 64 ? ~0ull : (1ull << outputs_) - 1;
            context_.kernel.ioctl(requestFd_, GPIO_V2_LINE_SET_VALUES_IOCTL, &values);
        } else {
            claim(ignored);
        }
    }
    release();
    context_.kernel.close(chipFd_);
}

std::string GpioPort::offsetsText() const
{
    return "lines " + Offsets(offsets_);
}

void GpioPort::fail(const char* what, int err) const
{
    if (err == ENODEV)
        throw PortError(describe(), "the GPIO chip has gone (" + offsetsText() + ")");
    throw PortError(describe(), std::string(what) + " " + offsetsText() + " failed (" +
                                    std::strerror(err) + ")");
}

void GpioPort::DlPortWritePortUchar(std::uint16_t port, std::uint8_t value)
{
    if (port != LptDataPort)
        return;
    if (requestFd_ < 0)
        throw PortError(describe(), "the lines are not requested by this program");
    gpio_v2_line_values values{};
    values.mask = outputs_ >= 64 ? ~0ull : (1ull << outputs_) - 1;
    for (std::size_t bit = 0; bit < map_.data.size(); ++bit) {
        if (!map_.data[bit] || !(value & (1u << bit)))
            continue;
        const auto at = std::find(offsets_.begin(), offsets_.end(), *map_.data[bit]);
        values.bits |= 1ull << (at - offsets_.begin());
    }
    if (const int r = context_.kernel.ioctl(requestFd_, GPIO_V2_LINE_SET_VALUES_IOCTL, &values);
        r < 0)
        fail("setting", -r);
}

std::uint8_t GpioPort::DlPortReadPortUchar(std::uint16_t port)
{
    if (port != LptStatusPort)
        return 0xFF;
    if (requestFd_ < 0)
        throw PortError(describe(), "the lines are not requested by this program");
    gpio_v2_line_values values{};
    auto index = [&](const std::optional<unsigned>& line) {
        return static_cast<unsigned>(std::find(offsets_.begin(), offsets_.end(), *line) -
                                     offsets_.begin());
    };
    if (map_.sda)
        values.mask |= 1ull << index(map_.sda);
    if (map_.miso)
        values.mask |= 1ull << index(map_.miso);
    if (const int r = context_.kernel.ioctl(requestFd_, GPIO_V2_LINE_GET_VALUES_IOCTL, &values);
        r < 0)
        fail("reading", -r);
    // The status byte as the parallel port gives it: SDA on BUSY, inverted by the port; MISO on
    // ACK. An input without a line reads as nothing answering; PE, SELECT and ERROR, which the
    // board leaves open, read high as a port's pull-ups give them, so that the lines with nothing
    // on them read as a parallel port without a board does.
    std::uint8_t status = 0x78;
    if (map_.sda && (values.bits >> index(map_.sda) & 1) == 0)
        status |= 0x80;
    if (map_.miso && (values.bits >> index(map_.miso) & 1) == 0)
        status &= static_cast<std::uint8_t>(~0x40);
    return status;
}

std::string GpioPort::describe() const
{
    return "GPIO chip " + chipText() + " (" + GpioMapText(map_) + ")";
}

std::string GpioPort::chipText() const
{
    return device_ + (label_.empty() ? std::string() : " [" + label_ + "]");
}

} // namespace vardel
