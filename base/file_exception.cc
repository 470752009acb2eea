#include "base/file_exception.h"

namespace {

const char* ErrorDescription(platform::DWORD error) {
  switch (error) {
    case platform::kErrorFileNotFound: return "The system cannot find the file specified.";
    case platform::kErrorPathNotFound: return "The system cannot find the path specified.";
    case platform::kErrorAccessDenied: return "Access is denied.";
    case platform::kErrorWriteFault: return "The system cannot write to the specified device.";
    case platform::kErrorReadFault: return "The system cannot read from the specified device.";
    case platform::kErrorFileExists: return "The file exists.";
    case platform::kErrorAlreadyExists:
      return "Cannot create a file when that file already exists.";
    case platform::kErrorFilenameExcedRange: return "The filename or extension is too long.";
    default: return "System error.";
  }
}

}  // namespace

CFileException::CFileException(platform::DWORD error, std::string path)
    : m_Error(error),
      m_Path(std::move(path)),
      m_Reason(std::string(ErrorDescription(error)) + " (" + std::to_string(error) + ")"),
      m_Text(m_Path + " : " + m_Reason) {}
