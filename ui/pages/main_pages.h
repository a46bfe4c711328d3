// The tabs of the main window in page order: object name, caption, whether the tab is shown,
// and how its page is made. Each page is one class with its own .ui form deriving Page.
#pragma once

#include <functional>
#include <vector>

class QWidget;

namespace velmar::ui {

class Page;
class Session;

struct PageEntry {
    const char* name;
    const char* caption;
    bool shown;
    std::function<Page*(Session&, QWidget*)> make;
};

const std::vector<PageEntry>& MainPages();

} // namespace velmar::ui
