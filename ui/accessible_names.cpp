#include "ui/accessible_names.h"

#include <QLabel>

namespace velmar::ui {

void NameInputsByLabels(QWidget* page) {
    for (QLabel* label : page->findChildren<QLabel*>()) {
        QWidget* input = label->buddy();
        if (input != nullptr && input->accessibleName().isEmpty())
            input->setAccessibleName(label->text().remove(QLatin1Char('&')));
    }
}

} // namespace velmar::ui
