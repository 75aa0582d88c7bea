#pragma once

namespace vardel {

// Only one chip operation runs at a time: a second one, started from a queued event while the first
// lets messages run, would interleave its line changes with the first. Every chip command holds an
// Operation for its whole run and does nothing when it cannot get one.
class OperationLock {
public:
    bool busy() const { return busy_; }
    // Asks the running operation to end after the unit of work in hand (closing the window,
    // Ctrl-C).
    void requestStop() { stop_ = busy_; }
    bool stopRequested() const { return stop_; }

private:
    friend class Operation;
    bool busy_ = false;
    bool stop_ = false;
};

class Operation {
public:
    explicit Operation(OperationLock& lock) : lock_(lock), acquired_(!lock.busy_)
    {
        if (acquired_) {
            lock_.busy_ = true;
            lock_.stop_ = false;
        }
    }
    ~Operation()
    {
        if (acquired_) {
            lock_.busy_ = false;
            lock_.stop_ = false;
        }
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    bool acquired() const { return acquired_; }

private:
    OperationLock& lock_;
    bool acquired_;
};

} // namespace vardel
