// The signals that stop a multi-line run, caught while the run waits for its lines.
#pragma once

#include <csignal>
#include <iterator>

namespace velmar::cli::fleet {

// The signals that stop a multi-line run: passed on to every line process, which the run then
// waits for before it ends the same way.
inline constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The stop signal caught, 0 while none was.
extern volatile std::sig_atomic_t gStopSignal;

// Catches the stop signals while it lives (without restarting calls, so that the wait for the
// lines' output ends at once) and puts the earlier handling back.
class StopSignals {
  public:
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    ~StopSignals();

  private:
    struct sigaction before_[std::size(kStopSignals)]{};
};

} // namespace velmar::cli::fleet
