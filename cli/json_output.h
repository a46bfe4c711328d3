// --json output: one JSON document on stdout per command, keys in the order they are set.
#pragma once

#include <iostream>
#include <nlohmann/json.hpp>

namespace velmar::cli {

using Json = nlohmann::ordered_json;

// How many documents PrintJson has printed: a failed command that printed none prints its error
// as one, so that a script always gets a document.
inline int& JsonDocumentsPrinted() {
    static int count = 0;
    return count;
}

inline void PrintJson(const Json& document) {
    ++JsonDocumentsPrinted();
    // Texts from the line are converted to UTF-8 before they get here; should a byte still be
    // malformed it is replaced rather than losing the whole document.
    std::cout << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

} // namespace velmar::cli
