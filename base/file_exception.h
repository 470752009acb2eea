// CFileException: a failure of the operating system on a file or directory,
// with the system error number and the path it concerns. The folder helpers
// raise it; their callers catch it and report it.
#pragma once

#include <exception>
#include <string>

#include "platform/types.h"

class CFileException : public std::exception {
 public:
  CFileException(platform::DWORD error, std::string path);

  platform::DWORD Error() const { return m_Error; }
  const std::string& Path() const { return m_Path; }
  // What went wrong, for people: "Access is denied. (5)".
  const std::string& Reason() const { return m_Reason; }
  // The path and the reason.
  const char* what() const noexcept override { return m_Text.c_str(); }

 private:
  platform::DWORD m_Error;
  std::string m_Path;
  std::string m_Reason;
  std::string m_Text;
};
