// What a CGI program gets from its web server: the environment variables,
// the request body on standard input, and the command line's argument.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace domino {

struct CgiRequest {
  std::map<std::string, std::string> variables;
  // Reads up to `length` bytes of the body; 0 at its end.
  std::function<std::size_t(char* buffer, std::size_t length)> read_body;
  std::optional<std::string> argument;  // the program's first argument

  // The variable `name` cut to `limit` bytes; none when it is not set.
  std::optional<std::string> Get(const std::string& name, std::size_t limit = 4095) const;

  // The request of this process: its environment (the CGI variables only),
  // standard input and first argument.
  static CgiRequest FromProcess(int argc, char** argv);
};

// The CGI header: "Content-type: <type>\n", then "Status: <status>\n" when
// the server's gateway interface is given and is not CGI/1.1, then an empty
// line.
std::string CgiHeader(const CgiRequest& request, const char* content_type, const char* status = "200 OK");
// Whether the header carries a status line.
bool CgiHeaderHasStatus(const CgiRequest& request);

// The request body, at most `limit` bytes: CONTENT_LENGTH bytes as far as
// they arrive; nothing when CONTENT_LENGTH is missing, not a number or
// negative.
std::string ReadRequestBody(const CgiRequest& request, std::size_t limit);

// Whether `a` and `b` are equal without regard to ASCII case.
bool SameText(const std::string& a, const std::string& b);

}  // namespace domino
