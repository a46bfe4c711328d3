// Catching the stop signals of a multi-line run and putting the earlier handling back.
#include "cli/fleet_stop_signals.h"

namespace velmar::cli::fleet {

volatile std::sig_atomic_t gStopSignal = 0;

namespace {

void NoteStopSignal(int signal) {
    gStopSignal = signal;
}

} // namespace

StopSignals::StopSignals() {
    gStopSignal = 0;
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kStopSignals); ++i) {
        ::sigaction(kStopSignals[i], nullptr, &before_[i]);
        // A signal ignored on purpose (nohup) stays ignored.
        if (before_[i].sa_handler != SIG_IGN) ::sigaction(kStopSignals[i], &action, nullptr);
    }
}

StopSignals::~StopSignals() {
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &before_[i], nullptr);
}

} // namespace velmar::cli::fleet
