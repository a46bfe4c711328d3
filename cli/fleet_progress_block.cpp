// Drawing and clearing the status block of a multi-line run.
#include "cli/fleet_progress_block.h"

#include <cstdint>
#include <cstdio>

namespace velmar::cli::fleet {

namespace {

constexpr size_t kStatusWidth = 150; // bytes of a line's status on the terminal

} // namespace

void ProgressBlock::Clear() {
    if (!shown_ || drawn_ == 0) return;
    std::fprintf(stderr, "\033[%dA\r\033[J", drawn_);
    drawn_ = 0;
}

void ProgressBlock::Draw(const std::vector<Line*>& active) {
    if (!shown_) return;
    Clear();
    for (const Line* line : active) {
        std::string text = line->port + ": " + (line->status.empty() ? "..." : line->status);
        if (text.size() > kStatusWidth) {
            // Cut before a whole character: Russian texts take two bytes a letter.
            size_t cut = kStatusWidth;
            while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
            text.resize(cut);
        }
        std::fprintf(stderr, "\r\033[K%s\n", text.c_str());
    }
    drawn_ = static_cast<int>(active.size());
    std::fflush(stderr);
}

} // namespace velmar::cli::fleet
