// viewexport: the CGI program that writes a Notes view as NOTESVIEW mark-up.
#include <iostream>

#include "domino/view_export.h"

int main(int argc, char** argv) {
  const int status = domino::RunViewExport(domino::CgiRequest::FromProcess(argc, argv), std::cout);
  std::cout.flush();
  return status;
}
