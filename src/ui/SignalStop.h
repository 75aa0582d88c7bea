#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;
class TVentana;

// SIGINT, SIGTERM and SIGHUP end the window program as they end vardel-cli: the temporaries of
// unfinished saves go at once (those saves fail), the running chip operation is asked to stop and
// ends after the unit of work in hand with every line low, an open dialog or message is dismissed,
// and the window then closes, which drives the lines low and saves the settings. The handler only
// writes the signal into a pipe; the window acts on it from its event loop, which the chip
// operations keep running.
class SignalStop final : public QObject {
    Q_OBJECT
public:
    explicit SignalStop(TVentana& window);
    // Puts back the handler that only removes the temporaries and ends the process.
    ~SignalStop() override;
    // The signal that arrived, 0 while none has.
    static int received() { return received_; }

private:
    void onSignal();

    TVentana& window_;
    QSocketNotifier* notifier_ = nullptr;
    static volatile std::sig_atomic_t received_;
};
