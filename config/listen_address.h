// A listen entry of the settings: "address,port", or a port alone (every
// interface). The address part is not checked here: one that is not a
// dotted IPv4 address binds every interface.
#pragma once

#include <string>

struct ListenAddress {
  std::string address;
  unsigned short port = 0;
};

// False when the port is not a number from 1 to 65535.
bool ParseListenAddress(const std::string& text, ListenAddress& parsed);
