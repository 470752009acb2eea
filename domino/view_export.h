// viewexport: the CGI program that writes a view of a Notes database as
// NOTESVIEW mark-up, for the relay's Notes channel to fetch.
//
// Its argument is the view's note id in eight hexadecimal digits followed
// by the database's path, at most 260 characters: the program's first
// argument when the web server passes one, else the query string (with
// "%xx" escapes decoded).
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

#include "domino/cgi_request.h"
#include "domino/notes_db.h"

namespace domino {

inline constexpr std::size_t kMaxViewArgument = 260;
inline constexpr std::size_t kMaxMarkupText = 255;

// A name or title for the mark-up: a space, "!", "#" to "%", "'" to ";" and
// "?" to code 127 stay, every other byte is "&#" + its code in three digits
// + ";". At most 255 characters, and an entity is never cut.
std::string MarkupText(std::string_view text);

// An entry's name: its summary values in column order, each as text and
// followed by a space (members of a text list joined by ";").
std::string EntryName(const notes::CollectionEntry& entry);

// Answers one request; returns the exit status (1 after an error).
int RunViewExport(const CgiRequest& request, std::ostream& out);

}  // namespace domino
