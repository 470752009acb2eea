// Installing the administration console: its static files go into the
// directory the administration web server serves at "/" (home/Java), and
// the content types its files need are written where none is set yet, so
// that a machine without a system table of media types serves them right.
#pragma once

#include <string>

namespace console_install {

// Where the program finds the console's files: share/zondrel/console of the
// tree it is installed in — beside bin/ in the build tree, and in /usr for
// the package's /usr/lib/zondrel/bin. Empty when neither holds them.
std::string SourceDirectory();

// Copies every file under `from` into `to` (created as needed), replacing
// files of the same name and leaving others alone; then seeds the content
// types. The number of files copied, or -1 when `from` is no directory or
// a copy failed.
int Install(const std::string& from, const std::string& to);

}  // namespace console_install
