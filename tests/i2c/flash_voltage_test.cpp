#include "sim/sim_board.h"
#include "spi/flash_voltage.h"
#include "support/recording.h"

#include <gtest/gtest.h>

using namespace vardel;
using vardel::test::PassingPort;
using vardel::test::RecordingHost;

namespace {
// The simulated board with a GPIO header's levels, or a parallel port's.
class LevelsPort final : public PassingPort {
public:
    LevelsPort(PortIo& inner, bool parallel) : PassingPort(inner), parallel_(parallel) {}
    bool parallelPortLevels() const override { return parallel_; }

private:
    void written(std::uint16_t, std::uint8_t) override {}
    bool parallel_;
};
} // namespace

TEST(FlashVoltage, IsSaidOnceAndOnlyOnAParallelPort)
{
    const struct {
        bool parallel;
        const char* warnedBefore;
        bool said;
    } cases[] = {{true, "", true}, {true, "1", false}, {false, "", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.parallel ? "parallel " : "gpio ") + c.warnedBefore);
        VirtualClock clock;
        sim::SimBoard board{clock};
        LevelsPort port(board, c.parallel);
        Settings settings(std::map<std::string, std::string>{{kFlashVoltageKey, c.warnedBefore}});
        RecordingHost host;
        EXPECT_EQ(WarnFlashVoltageOnce(port, settings, host), c.said);
        EXPECT_EQ(host.messages().size(), c.said ? 1u : 0u);
        EXPECT_EQ(settings.ReadString(kFlashVoltageKey, ""), c.said ? "1" : c.warnedBefore);
        EXPECT_FALSE(WarnFlashVoltageOnce(port, settings, host));
    }
}
