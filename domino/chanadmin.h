// chanadmin: the CGI program with which an administrator sets the Notes
// channel's name and files. It shows a form, saves what the form sends into
// the head of domino.dat (in the Domino server's HTML directory), and sends
// the browser on to the database links program or to an animation's still
// picture.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "domino/cgi_request.h"
#include "domino/channel_text.h"

namespace domino {

// The registry key (under HKEY_LOCAL_MACHINE) of chanadmin's settings.
inline constexpr const char* kChanadminKey = "SOFTWARE\\Lotus\\Dazave.ZevodArud\\Zondrel";

struct ChanadminConfig {
  std::string html_directory;  // "DominoHTML": holds domino.dat, with its separator
  std::string html_alias;      // "DominoHTMLAlias"
  std::string icons_alias;     // "DominoICONSAlias"
  std::string cgi_alias;       // "DominoCGIBINAlias"
  std::string server_name;     // SERVER_NAME (RunChanadmin takes it from the request)
};

// The registry values of chanadmin's key, each cut to 299 bytes; a missing
// key or value gives an empty text.
ChanadminConfig ReadChanadminConfig();

// The animation files offered in the form: the names of the "*.anm" files
// (any case) of the current directory, in directory order, at most 1000.
std::vector<std::string> AnimationFiles();

// The form. `settings` null: there are no settings to show.
std::string ChannelForm(const CgiRequest& request, const ChanadminConfig& config, const ChannelSettings* settings,
                        const std::vector<std::string>& animations);

// Answers one request; returns the exit status.
int RunChanadmin(const CgiRequest& request, const ChanadminConfig& registry_config, const std::vector<std::string>& animations,
                 std::ostream& out);

}  // namespace domino
