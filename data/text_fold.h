// Case folding of UTF-8 text for searches: Latin and Cyrillic capitals (Ё included) become small
// letters, everything else stays as it is. SQLite's lower() folds ASCII only, so a search for
// «ожидание» would miss «Ожидание».
#pragma once

#include <string>

namespace velmar {

std::string FoldCase(const std::string& utf8);

} // namespace velmar
