// Process and machine facts as the server's algorithms use them.
#pragma once

#include <string>

#include "platform/types.h"

namespace platform {

// Full path of the running program.
std::string GetModuleFileName();
// The program's directory, ending in "/".
std::string GetModuleDirectory();
// The program's file name without directory and extension ("zondrel").
std::string GetModuleBaseName();

// Where the machine keeps its computer name in its registry (REG_SZ).
inline constexpr const char* kComputerNameKey = "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
inline constexpr const char* kComputerNameValue = "ComputerName";
inline constexpr DWORD kMaxComputerNameLength = 255;
// The computer name of the machine's registry; empty when it has none.
std::string GetComputerNameSetting();
// The machine's host name (255 characters at most): its computer name, or,
// without one, the system's host name.
std::string GetHostName();
// The kernel's name and release ("Linux 6.1.0"), for Server and User-Agent texts.
std::string GetSystemNameAndRelease();

// The system directory of the machine: the machine root, ending in "/".
std::string GetWindowsDirectory();
// $TMPDIR or /tmp, ending in "/".
std::string GetTempPath();

bool SetCurrentDirectory(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// A regular file (after following symbolic links).
bool RegularFileExists(const std::string& path);
// The absolute path with every symbolic link, "." and ".." resolved; empty
// when the path does not exist.
std::string CanonicalPath(const std::string& path);
// Creates one directory level. False with kErrorAlreadyExists, kErrorPathNotFound, ...
bool CreateDirectory(const std::string& path);

// Replaces %NAME% with the environment variable's value (left as it is when
// the variable is unset).
std::string ExpandEnvironmentStrings(const std::string& text);

// The debugger output channel: the text goes to standard error only when
// ZONDREL_DEBUG_OUTPUT=1, so that the console shows nothing but the program's
// own texts otherwise.
void OutputDebugString(const char* text);
// Whether OutputDebugString writes anything.
bool DebugOutputEnabled();

// Raises the process's limit of open descriptors to the most the system
// allows it (65536 at most): a server holds one per connection, and the usual default of
// 1024 is reached by a thousand slow viewers. The limit now in force.
unsigned long RaiseDescriptorLimit();

}  // namespace platform

namespace platform {

// Reads one line from standard input, waiting at most `milliseconds`.
// 1: a line (without its end) is in *line; 0: nothing within the time;
// -1: the input has ended.
int ReadConsoleLine(std::string* line, DWORD milliseconds);
// Reads one line from standard input without showing it when the input is
// a terminal (a password). False when the input ended before a line.
bool ReadSecretLine(std::string* line);

}  // namespace platform
