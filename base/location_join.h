// Joining a folder or URL with a file name, the one rule every caller uses:
// exactly one separator between the two parts (a slash, or a backslash when
// the base uses backslashes only); a part that begins with "." (".cache")
// and any part after a URL that carries a query ("?") are appended directly.
#pragma once

#include <string>
#include <string_view>

std::string JoinLocation(std::string_view base, std::string_view part);
