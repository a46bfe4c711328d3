// A tab whose content comes with a later feature: it exists with its caption and stays empty.
#pragma once

#include "ui/page.h"

namespace velmar::ui {

class PlaceholderPage : public Page {
    Q_OBJECT
  public:
    PlaceholderPage(Session& session, QWidget* parent) : Page(session, parent) {}
};

} // namespace velmar::ui
