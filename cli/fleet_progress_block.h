// The block of status lines a multi-line run keeps on the terminal, one per running line,
// redrawn in place.
#pragma once

#include "cli/fleet_line_process.h"

#include <vector>

namespace velmar::cli::fleet {

class ProgressBlock {
  public:
    explicit ProgressBlock(bool shown) : shown_(shown) {}
    void Clear();
    void Draw(const std::vector<Line*>& active);

  private:
    bool shown_;
    int drawn_ = 0;
};

} // namespace velmar::cli::fleet
