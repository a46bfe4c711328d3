// Code page 1251 bytes (the identification text after its 866 -> 1251 mapping) to Unicode.
#pragma once

#include <QString>
#include <string_view>

namespace velmar::ui {

QString FromCp1251(std::string_view bytes);

} // namespace velmar::ui
