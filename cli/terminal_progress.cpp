#include "cli/terminal_progress.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace velmar::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr int kLineStepPercent = 10;
bool lineMode = false;
} // namespace

void TerminalProgress::SetLineMode(bool on) {
    lineMode = on;
}

TerminalProgress::TerminalProgress(std::string label)
    : label_(std::move(label)), shown_(lineMode || ::isatty(STDERR_FILENO) == 1) {}

TerminalProgress::~TerminalProgress() {
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

void TerminalProgress::Update(int done, int total) {
    if (!shown_ || total <= 0) return;
    const int percent = std::clamp(static_cast<int>(100LL * done / total), 0, 100);
    if (percent == lastPercent_) return; // a redraw per record would flood a slow terminal
    if (lineMode) {
        if (lastPercent_ >= 0 && percent / kLineStepPercent == lastPercent_ / kLineStepPercent)
            return;
        lastPercent_ = percent;
        std::fprintf(stderr, "%s%s %d%%\n", kLinePrefix, label_.c_str(), percent);
        std::fflush(stderr);
        return;
    }
    lastPercent_ = percent;
    const int filled = percent * kBarWidth / 100;
    const std::string bar = std::string(static_cast<size_t>(filled), '#') +
                            std::string(static_cast<size_t>(kBarWidth - filled), '-');
    std::fprintf(stderr, "\r\033[K%s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
    std::fflush(stderr);
    drawn_ = true;
}

std::function<void(int, int)> TerminalProgress::Callback() {
    return [this](int done, int total) { Update(done, total); };
}

} // namespace velmar::cli
