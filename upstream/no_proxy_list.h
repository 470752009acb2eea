// NoProxyList: the hosts that a URL file fetch reaches directly although an
// HTTP proxy is configured.
#pragma once

#include <string>
#include <string_view>

namespace upstream {

// Whether `host` matches an entry of `list`. Entries are separated by
// blanks, semicolons, line feeds and tabs, and compared without regard to
// case. An entry may hold "*" for any run of characters; otherwise it must
// equal the whole host name ("*.corp.example" matches "www.corp.example",
// "corp.example" only itself). An empty list matches nothing.
bool MatchesNoProxyList(std::string_view list, std::string_view host);

// Whether a URL file fetch reaches `host` directly: the host, replaced by its
// official name when the name lookup knows it, matches an entry of `list`.
// An empty list is decided without a lookup.
bool BypassesProxy(std::string_view list, const std::string& host);

}  // namespace upstream
