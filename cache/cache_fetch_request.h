// The request a cache refresh sends upstream for one cache directory.
#pragma once

#include <cstdint>
#include <string>

class QRNHTTP;

// "GET <viewer-protocol path of the request's addressing values, with the
// newest item held as item number>[/<escaped argument>] HTTP/1.0", the
// server's User-Agent line, the viewer's own header lines except the request
// line, Host, User-Agent and Content-length (no body goes upstream), and the
// empty line. `argument` null: the directory has none.
std::string MakeCacheFetchRequest(const QRNHTTP& request, const std::string* argument, std::uint32_t newestID);
