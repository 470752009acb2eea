// chanadmin: the CGI program that edits the Notes channel's domino.dat.
#include <iostream>

#include "domino/chanadmin.h"

int main(int argc, char** argv) {
  const domino::CgiRequest request = domino::CgiRequest::FromProcess(argc, argv);
  const int status = domino::RunChanadmin(request, domino::ReadChanadminConfig(), domino::AnimationFiles(), std::cout);
  std::cout.flush();
  return status;
}
