#pragma once

#include "hw/clock.h"
#include "hw/host.h"
#include "hw/port_io.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace vardel::test {

// A port that keeps every data-register write and answers status reads from a script (or a fixed
// value once the script is used up).
class RecordingPort : public PortIo {
public:
    std::vector<std::uint8_t> writes;
    std::deque<std::uint8_t> statusScript;
    std::uint8_t status = 0x00;
    int reads = 0;

    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override
    {
        if (port == LptDataPort)
            writes.push_back(value);
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
    {
        ++reads;
        if (port != LptStatusPort)
            return 0xFF;
        if (!statusScript.empty()) {
            const std::uint8_t v = statusScript.front();
            statusScript.pop_front();
            return v;
        }
        return status;
    }
    std::string describe() const override { return "recording port"; }
};

// Passes every access on to another port; `written` sees each write first, as a watch on the
// cable would.
class PassingPort : public PortIo {
public:
    explicit PassingPort(PortIo& inner) : inner_(inner) {}
    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override
    {
        written(port, value);
        inner_.DlPortWritePortUchar(port, value);
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
    {
        return inner_.DlPortReadPortUchar(port);
    }
    std::string describe() const override { return inner_.describe(); }

protected:
    virtual void written(std::uint16_t port, std::uint8_t value) = 0;

private:
    PortIo& inner_;
};

// Counts START conditions among the bytes the program writes: SDA falling while SCL stays high;
// notes when the last STOP (SDA rising while SCL stays high) and the power-off came.
class StartCounter final : public PassingPort {
public:
    StartCounter(PortIo& inner, const Clock& clock) : PassingPort(inner), clock_(clock) {}
    int starts = 0;
    std::vector<std::uint8_t> writes;
    std::int64_t lastStopNs = -1;
    std::int64_t powerOffNs = -1;

private:
    void written(std::uint16_t port, std::uint8_t value) override
    {
        if (port == LptDataPort) {
            if ((last_ & 0x08) && (value & 0x08) && (last_ & 0x10) && !(value & 0x10))
                ++starts;
            if ((last_ & 0x08) && (value & 0x08) && !(last_ & 0x10) && (value & 0x10))
                lastStopNs = clock_.nanoseconds();
            if ((last_ & 0x07) && !(value & 0x07))
                powerOffNs = clock_.nanoseconds();
            last_ = value;
            writes.push_back(value);
        }
    }

    const Clock& clock_;
    std::uint8_t last_ = 0;
};

// Records every call the core makes to the user, in order, as short texts:
// "message CAPTION|text", "busy", "normal", "progress show", "label TEXT", "gauge N", ...
class RecordingHost : public Host {
public:
    std::vector<std::string> calls;
    // Answers of confirmations, in order; OK when none is left.
    std::deque<Result> answers;
    // Cancel is pressed once the label has been set this many times (-1: never).
    int cancelAfterLabels = -1;
    bool recordGauges = true;
    int labels = 0;
    bool cancel = false;

    // The kind of each message, in order.
    std::vector<Kind> kinds;

    Result MessageBox(const std::string& text, const std::string& caption, Kind kind,
                      Buttons buttons, Icon icon) override
    {
        kinds.push_back(kind);
        calls.push_back("message " + caption + "|" + text +
                        (buttons != Buttons::Ok ? "|okcancel" : "") +
                        (buttons == Buttons::OkCancelDefaultCancel ? "|default cancel" : "") +
                        (icon == Icon::Exclamation ? "|exclamation" : ""));
        if (buttons != Buttons::Ok && !answers.empty()) {
            const Result r = answers.front();
            answers.pop_front();
            return r;
        }
        return Result::Ok;
    }
    void BusyCursor() override { calls.push_back("busy"); }
    void NormalCursor() override { calls.push_back("normal"); }
    void ProgressShow() override
    {
        cancel = false;
        calls.push_back("progress show");
    }
    void ProgressHide() override { calls.push_back("progress hide"); }
    void ProgressLabel(const std::string& text) override
    {
        ++labels;
        if (cancelAfterLabels >= 0 && labels >= cancelAfterLabels)
            cancel = true;
        if (recordGauges)
            calls.push_back("label " + text);
    }
    void ProgressGauge(int percent) override
    {
        if (recordGauges)
            calls.push_back("gauge " + std::to_string(percent));
    }
    bool CancelFlag() override { return cancel; }
    void FlashGauge(int percent) override
    {
        if (recordGauges)
            calls.push_back("flash " + std::to_string(percent));
    }
    void EepromGauge(int percent) override
    {
        if (recordGauges)
            calls.push_back("eeprom " + std::to_string(percent));
    }
    void ProcessMessages() override {}
    // The status lines, kept apart from the calls.
    std::vector<std::string> statuses;
    void StatusText(const std::string& text) override { statuses.push_back(text); }

    // The calls that are not label, gauge or progress updates.
    std::vector<std::string> essentials() const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c.rfind("label ", 0) && c.rfind("gauge ", 0) && c.rfind("flash ", 0) &&
                c.rfind("eeprom ", 0))
                out.push_back(c);
        return out;
    }
    std::vector<std::string> messages() const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c.rfind("message ", 0) == 0)
                out.push_back(c.substr(8));
        return out;
    }
};

// A clock whose every reading comes from the test: a counter that moves by a fixed step per read,
// ticks from a script.
class ScriptedClock : public Clock {
public:
    bool hasCounter = true;
    std::int64_t frequency = 1'000'000;
    std::int64_t counter = 0;
    std::int64_t counterStep = 1;
    std::deque<std::uint32_t> ticks;
    std::uint32_t lastTick = 0;
    std::uint32_t tickStep = 0;
    int counterReads = 0;
    int tickReads = 0;

    bool QueryPerformanceFrequency(std::int64_t& freq) override
    {
        freq = frequency;
        return hasCounter;
    }
    std::int64_t QueryPerformanceCounter() override
    {
        ++counterReads;
        counter += counterStep;
        return counter;
    }
    std::uint32_t GetTickCount() override
    {
        ++tickReads;
        if (!ticks.empty()) {
            lastTick = ticks.front();
            ticks.pop_front();
        } else {
            lastTick += tickStep;
        }
        return lastTick;
    }
    void Sleep(std::uint32_t) override {}
    std::int64_t nanoseconds() const override { return 0; }
};

} // namespace vardel::test
