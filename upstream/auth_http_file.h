// CAuthHTTPFile: an HTTPFile that answers a server's 401 with a user name
// and password of its own (an empty user name is sent as "Null").
#pragma once

#include <string>
#include <utility>

#include "upstream/http_file.h"

class CAuthHTTPFile : public HTTPFile {
 public:
  CAuthHTTPFile(const CPRegistry& settings, std::string user, std::string password)
      : HTTPFile(settings), m_User(std::move(user)), m_Password(std::move(password)) {}

  int GetCredentials(std::string& user, std::string& password) override {
    user = m_User.empty() ? "Null" : m_User;
    password = m_Password;
    return 1;
  }

 private:
  std::string m_User;
  std::string m_Password;
};
