// The parallel ports as the kernel lists them, read from a fake /proc/sys/dev/parport tree and a
// fake /dev folder.

#include "files/scratch_folder.h"
#include "hw/clock.h"
#include "hw/parallel_ports.h"
#include "hw/port_list.h"
#include "support/fake_kernel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

using namespace vardel;
using vardel::test::ScratchFolder;
using vardel::test::WriteWholeFile;

namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(PortList, EveryPortWithItsBaseAddressItsDeviceAndWhyItCannotBeOpened)
{
    ScratchFolder root;
    const std::string proc = root.file("parport"), dev = root.file("dev");
    struct Port {
        const char* name;
        const char* baseAddr; // as the kernel writes it: base and ECP base, in decimal
        const char* active;
        bool device;
    };
    for (const Port p :
         {Port{"parport0", "888\t1912\n", "none\n", true},
          Port{"parport1", "53264\t53256\n", "lp\n", true},
          Port{"parport2", "56320\t0\n", "none\n", false}, Port{"default", "", "", false}}) {
        std::filesystem::create_directories(proc + "/" + p.name + "/devices");
        WriteWholeFile(proc + "/" + p.name + "/base-addr", p.baseAddr);
        WriteWholeFile(proc + "/" + p.name + "/modes", "PCSPP,TRISTATE\n");
        WriteWholeFile(proc + "/" + p.name + "/devices/active", p.active);
        std::filesystem::create_directories(dev);
        if (p.device)
            WriteWholeFile(dev + "/" + p.name, "");
    }
    const auto ports = FindParallelPorts(proc, dev, [&](const std::string& device) {
        return device == dev + "/parport1" ? EACCES : 0;
    });

    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].base, 0x378u);
    EXPECT_EQ(ports[1].base, 0xD010u);
    EXPECT_EQ(ports[2].base, 0xDC00u);
    EXPECT_EQ(ports[0].modes, "PCSPP,TRISTATE");
    EXPECT_EQ(ports[1].claimedBy, "lp");
    EXPECT_EQ(ports[1].openError, EACCES);
    EXPECT_FALSE(ports[2].deviceExists);

    const std::string user = ParallelPortListing(ports, false);
    EXPECT_TRUE(Has(user, "parport0: base address 0x378, modes PCSPP,TRISTATE\n  --port ppdev:" +
                              dev + "/parport0  you may open it\n"))
        << user;
    EXPECT_TRUE(Has(user, "parport1: base address 0xD010")) << user;
    EXPECT_TRUE(Has(user, "/parport1  cannot be opened: permission denied")) << user;
    EXPECT_TRUE(Has(user, "claimed now by the printer driver lp (unload it: rmmod lp)")) << user;
    EXPECT_TRUE(Has(user, "/parport2 does not exist (load the ppdev module")) << user;
    EXPECT_FALSE(Has(user, "--port direct:0x")) << user;

    const std::string admin = ParallelPortListing(ports, true);
    for (const char* address : {"0x378", "0xD010", "0xDC00"})
        EXPECT_TRUE(Has(admin, std::string("--port direct:") + address + "  ")) << admin;

    EXPECT_TRUE(FindParallelPorts(root.file("none"), dev).empty());
    EXPECT_TRUE(Has(ParallelPortListing({}, false), "No parallel port found"));
}

TEST(PortList, ADeviceThatIsNoParallelPortIsRefusedByName)
{
    std::string error;
    VirtualClock clock;
    EXPECT_EQ(PpdevPort::open("/dev/null", {SystemKernel(), clock, {}}, error), nullptr);
    EXPECT_TRUE(Has(error, "/dev/null is not a parallel port")) << error;
}

TEST(PortList, PortsOnAUsbAdapterAreWarnedAboutAndUsbPrintersExplained)
{
    vardel::test::FakeKernel kernel;
    kernel.addParport(0, 0x378, nullptr);
    kernel.addParport(1, 0, nullptr);
    kernel.links["/sys/class/ppdev/parport1"] =
        "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ppdev/parport1";
    kernel.extraDevices = {"/dev/usb/lp0", "/dev/usb/hiddev0"};
    const auto ports = FindParallelPorts(kParportProc, "/dev", {}, kernel);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_FALSE(ports[0].onUsb);
    EXPECT_TRUE(ports[1].onUsb);
    const auto printers = FindUsbPrinterAdapters("/dev", kernel);
    EXPECT_EQ(printers, std::vector<std::string>{"/dev/usb/lp0"});
    const std::string text = ParallelPortListing(ports, true, printers);
    EXPECT_TRUE(Has(text, "--port direct:0x378  direct access")) << text;
    EXPECT_FALSE(Has(text, "--port direct:0x0")) << text;
    EXPECT_TRUE(Has(text, "this port is on a USB adapter")) << text;
    EXPECT_TRUE(Has(text, "gives this port no base address")) << text;
    EXPECT_TRUE(Has(text, "/dev/usb/lp0 is a USB printer adapter")) << text;
    EXPECT_TRUE(Has(ParallelPortListing({}, false, printers), "cannot drive the board")) << text;
}
