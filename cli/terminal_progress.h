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
    // For a line process of a multi-line run: progress as whole lines "@ LABEL NN%" on stderr
    // (every 10 %), which the parent process shows, whether or not stderr is a terminal.
    static void SetLineMode(bool on);
    static constexpr const char* kLinePrefix = "@ ";
    // Update as a callback for the image and report functions.
    std::function<void(int, int)> Callback();

  private:
    std::string label_;
    bool shown_;
    int lastPercent_ = -1;
    bool drawn_ = false;
};

} // namespace velmar::cli
