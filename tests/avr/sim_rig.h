#pragma once

#include "avr/avr_page.h"
#include "avr_rig.h"
#include "sim/avr_target.h"
#include "sim/chips.h"
#include "sim/sim_board.h"
#include "support/recording.h"

#include <optional>
#include <string>
#include <vector>

namespace vardel::test {

// The AVR page on the simulated board, its file dialogs answered by the test: the next name to
// give (nothing: cancelled), and the titles they were shown with.
struct SimRig {
    SleepLog clock;
    sim::SimBoard board{clock};
    LineDriver lines{board};
    RecordingHost host;
    OperationLock lock;
    AvrPage page{lines, clock, host, lock};
    std::optional<std::string> answer;
    std::vector<std::string> titles;
    int saveDialogs = 0;

    SimRig()
    {
        host.recordGauges = false;
        page.dialogs.save = [this] {
            ++saveDialogs;
            return answer;
        };
        page.dialogs.open = [this](const std::string& title) {
            titles.push_back(title);
            return answer;
        };
    }

    bool insert(const std::string& device, const std::string& signature = std::string())
    {
        std::string error;
        auto chip = sim::MakeAvrChip(device, signature, error);
        if (!chip)
            return false;
        board.insertAvr(std::move(chip));
        return true;
    }
    sim::AvrTarget& target() { return dynamic_cast<sim::AvrTarget&>(*board.avr()); }
};

} // namespace vardel::test
