// JSON string literals for machine-readable output.
#pragma once

#include <string>
#include <string_view>

namespace json {

// `text` as a quoted JSON string. Control characters are escaped and bytes
// that are not valid UTF-8 become U+FFFD, so the output is always valid JSON.
std::string JsonQuote(std::string_view text);

}  // namespace json
