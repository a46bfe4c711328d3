#include "ui/pages/status_line.h"

#include "ui/session.h"

namespace velmar::ui {

void FreshStatus(Session& session, const char* utf8) {
    session.SetStatus(QString());
    session.RepaintStatus();
    session.SetStatus(QString::fromUtf8(utf8));
}

void ReportFailure(Session& session, QWidget* parent, const char* utf8) {
    session.Ask().Message(parent, QString::fromUtf8(utf8));
    FreshStatus(session, utf8);
}

} // namespace velmar::ui
