// Input controls are named for assistive tools and tests by the caption the engineer reads next
// to them: every label with a buddy gives its text to that buddy.
#pragma once

class QWidget;

namespace velmar::ui {

void NameInputsByLabels(QWidget* page);

} // namespace velmar::ui
