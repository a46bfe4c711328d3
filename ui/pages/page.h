// A tab of the main window. Each page owns its .ui form and shares the session.
#pragma once

#include <QWidget>

namespace velmar::ui {

class Session;

class Page : public QWidget {
    Q_OBJECT
  public:
    Page(Session& session, QWidget* parent) : QWidget(parent), session_(session) {}
    // Called when the page becomes the current tab (the tab's show handler).
    virtual void PageShown() {}

  protected:
    Session& session_;
};

} // namespace velmar::ui
