// A one-line progress bar on stderr for long transfers, drawn only when stderr is a terminal,
// so that redirected output and logs stay free of it.
#pragma once

#include <functional>
#include <string>

namespace velmar::cli {

class TerminalProgress {
  public:
    explicit TerminalProgress(std::string label);
    ~TerminalProgress(); // clears the line
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void Update(int done, int total);
    // Update as a callback for the image and report functions.
    std::function<void(int, int)> Callback();

  private:
    std::string label_;
    bool shown_;
    int lastPercent_ = -1;
    bool drawn_ = false;
};

} // namespace velmar::cli
