// UTF-8 text to code page 866, the code page of the controller's identification text.
#pragma once

#include <string>

namespace velmar::sim {

// Cyrillic letters, Ё/ё and the numero sign are mapped; other non-ASCII characters become '?'.
std::string Utf8ToCp866(const std::string& utf8);

} // namespace velmar::sim
