#include "cli/terminal_progress.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace velmar::cli {

namespace {
constexpr int kBarWidth = 30;
}

TerminalProgress::TerminalProgress(std::string label)
    : label_(std::move(label)), shown_(::isatty(STDERR_FILENO) == 1) {}

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
