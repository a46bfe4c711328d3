#include "ui/cp1251.h"

#include "protocol/cp1251_text.h"

namespace velmar::ui {

QString FromCp1251(std::string_view bytes) {
    return QString::fromStdString(Cp1251ToUtf8(bytes));
}

} // namespace velmar::ui
