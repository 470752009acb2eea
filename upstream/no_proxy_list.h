// NoProxyList: the hosts that a URL file fetch reaches directly although an
// HTTP proxy is configured.
#pragma once

#include <string_view>

namespace upstream {

// Whether `host` matches an entry of `list`. Entries are separated by
// blanks, semicolons, line feeds and tabs, and compared without regard to
// case. An entry may hold "*" for any run of characters; otherwise it must
// equal the whole host name ("*.corp.example" matches "www.corp.example",
// "corp.example" only itself). An empty list matches nothing.
bool MatchesNoProxyList(std::string_view list, std::string_view host);

}  // namespace upstream
