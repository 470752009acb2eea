// Test support for the Domino tools: requests as a web server hands them to
// a CGI program, and Notes databases made on the spot.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "domino/cgi_request.h"
#include "domino/notes_db.h"

namespace domino_testing {

// A request with `variables` and `body` on its standard input.
inline domino::CgiRequest Request(std::map<std::string, std::string> variables, std::string body = {}) {
  domino::CgiRequest request;
  request.variables = std::move(variables);
  auto input = std::make_shared<std::string>(std::move(body));
  auto offset = std::make_shared<std::size_t>(0);
  request.read_body = [input, offset](char* buffer, std::size_t length) {
    const std::size_t n = std::min(length, input->size() - *offset);
    std::memcpy(buffer, input->data() + *offset, n);
    *offset += n;
    return n;
  };
  return request;
}

inline notes::Unid Unid(std::uint32_t last) {
  notes::Unid unid;
  unid.words[0] = 0x8f2a1c3e;
  unid.words[1] = 0x0b7d44a5;
  unid.words[2] = 0x852568c4;
  unid.words[3] = last;
  return unid;
}

// A view with `documents` documents, each modified at 1000000 + its index
// and named by one text value, "doc <index>" (none when `unnamed` says so).
inline notes::ViewDescription View(notes::NoteId id, const std::string& title, int documents,
                                   bool (*unnamed)(int) = nullptr) {
  notes::ViewDescription view;
  view.note_id = id;
  view.unid = Unid(id);
  view.modified.seconds = 946684800;
  view.title = title;
  for (int i = 1; i <= documents; ++i) {
    notes::DocumentDescription document;
    document.note_id = 0x1000 + static_cast<notes::NoteId>(i);
    document.unid = Unid(0x1000 + static_cast<std::uint32_t>(i));
    document.modified.seconds = 1000000 + i;
    if (unnamed == nullptr || !unnamed(i)) {
      notes::SummaryValue value;
      value.text = "doc " + std::to_string(i);
      document.values.push_back(value);
    }
    view.entries.push_back(document);
  }
  return view;
}

}  // namespace domino_testing
