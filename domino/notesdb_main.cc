// notesdb: makes and shows the Notes databases that viewexport reads.
//
//   notesdb import DB FILE.json   create or replace DB from a JSON description
//   notesdb list DB               show what DB holds
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "domino/notes_db.h"
#include "domino/notes_json.h"

namespace {

constexpr std::size_t kMaxJsonBytes = 16 * 1024 * 1024;

int Usage() {
  std::cerr << "usage: notesdb import DB FILE.json\n"
               "       notesdb list DB\n";
  return 2;
}

int Import(const std::string& database, const std::string& json_path) {
  std::ifstream file(json_path, std::ios::binary);
  if (!file) {
    std::cerr << "notesdb: cannot read " << json_path << "\n";
    return 1;
  }
  std::string json(kMaxJsonBytes + 1, '\0');
  file.read(json.data(), static_cast<std::streamsize>(json.size()));
  json.resize(static_cast<std::size_t>(file.gcount()));
  if (json.size() > kMaxJsonBytes) {
    std::cerr << "notesdb: " << json_path << " is larger than " << kMaxJsonBytes << " bytes\n";
    return 1;
  }
  std::vector<notes::ViewDescription> views;
  if (std::string error = notes::ViewsFromJson(json, &views); !error.empty()) {
    std::cerr << "notesdb: " << json_path << ": " << error << "\n";
    return 1;
  }
  if (std::string error = notes::WriteDatabase(database, views); !error.empty()) {
    std::cerr << "notesdb: " << error << "\n";
    return 1;
  }
  std::size_t entries = 0;
  for (const auto& view : views) entries += view.entries.size();
  std::cout << database << ": " << views.size() << " view(s), " << entries << " entr" << (entries == 1 ? "y" : "ies")
            << "\n";
  return 0;
}

int List(const std::string& database) {
  std::vector<notes::ViewDescription> views;
  if (std::string error = notes::ReadDatabase(database, &views); !error.empty()) {
    std::cerr << "notesdb: " << error << "\n";
    return 1;
  }
  std::cout << notes::ListViews(views);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "import") return Import(args[1], args[2]);
  if (args.size() == 2 && args[0] == "list") return List(args[1]);
  return Usage();
}
