// The JSON description of a Notes database, as `notesdb import` reads it:
//
//   {"views": [{"noteid": "0000215A", "unid": "<32 hex digits>", "title": "...",
//               "modified": <seconds since 1970>,
//               "entries": [{"noteid": "00000912", "unid": "<32 hex digits>",
//                            "modified": <seconds>, "category": false,
//                            "values": ["text", ["a", "list"], 3.5, {"time": <seconds>}]}]}]}
//
// A view may also give "format" (its view format text; "1" when left out);
// "title": null leaves the view without a title. An entry without
// "modified" has no document behind it; a category row needs no "unid".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "domino/notes_db.h"

namespace notes {

// The views described by `json`; an empty result, or what is wrong.
std::string ViewsFromJson(std::string_view json, std::vector<ViewDescription>* views);

// The listing of `views` that `notesdb list` prints.
std::string ListViews(const std::vector<ViewDescription>& views);

}  // namespace notes
