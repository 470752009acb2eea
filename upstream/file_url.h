// The names a URL file fetch works with: the parts of an http URL, and the
// name of the local copy it is kept in under the temporary directory.
#pragma once

#include <string>
#include <string_view>

namespace upstream {

struct FileURL {
  std::string scheme;
  std::string host;
  unsigned port = 80;
  std::string path;  // from the first "/" after the host, query included
};

enum class URLParse { kParsed, kUnparsable, kNotHttp };
// "scheme://host[:port]/path". A URL without "://", without a "/" after the
// host, with an empty host or with a port outside 1..65535 is unparsable;
// a scheme other than "http" (case ignored) is refused.
URLParse ParseFileURL(std::string_view url, FileURL& parts);

// Replaces the characters a file name may not carry (" * < > ? |) by "-".
std::string ReplaceNameCharacters(std::string_view name);

// `tempDirectory` (ending in "/") + host + path, with those characters
// replaced. The copy stays below the temporary directory whatever the URL
// says: "." and ".." segments are renamed and empty ones dropped, and a path
// that names a directory gets the file name "-". A port other than 80 is
// part of the host's folder ("host-8080"), so two servers on one host never
// share a copy.
std::string LocalCopyName(std::string_view tempDirectory, const FileURL& url);

}  // namespace upstream
