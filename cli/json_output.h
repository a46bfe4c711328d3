// --json output: one JSON document on stdout per command, keys in the order they are set.
#pragma once

#include <iostream>
#include <nlohmann/json.hpp>

namespace velmar::cli {

using Json = nlohmann::ordered_json;

inline void PrintJson(const Json& document) {
    // Texts from the line are converted to UTF-8 before they get here; should a byte still be
    // malformed it is replaced rather than losing the whole document.
    std::cout << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

} // namespace velmar::cli
