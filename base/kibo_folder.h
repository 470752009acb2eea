// CKiboFolder: stateless helpers for folders and files on disk, and the
// base64 codec (RFC 1521 alphabet, no "=" padding, no line breaks) used for
// HTTP Basic authentication.
//
// Directory paths use "/"; failures of the operating system are raised as
// CFileException.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_exception.h"

class CKiboFolder {
 public:
  CKiboFolder() = delete;

  // Creates the directory and every missing parent, from the top down. An
  // existing directory is left alone.
  static void CreateDirectoryPath(const std::string& path);

  // Deletes the files of `directory` whose names match `pattern` ("*" and "?"
  // wildcards) and that are at least `days` whole days old. Subdirectories
  // and read-only files are never deleted. Stops at the first file that
  // cannot be deleted. A missing directory holds nothing to delete.
  static void DeleteAgedFiles(const std::string& directory, const std::string& pattern,
                              unsigned int days);
  // The names of the plain files of `directory` whose names match `pattern`
  // without regard to case (files copied from other systems often carry
  // upper-case extensions), sorted. A missing directory holds none.
  static std::vector<std::string> ListFiles(const std::string& directory, const std::string& pattern);
  // Whether `name` matches `pattern` ("*": any run of characters, "?": any
  // one character; case matters, as it does for the file names).
  static bool MatchesPattern(std::string_view name, std::string_view pattern);

  // Replaces `output` with the base64 text of `data` and returns its length.
  // With `length` 0, `data` is a zero-terminated text.
  static std::size_t Base64Encode(const void* data, std::string& output, std::size_t length);
  // Decodes `text` into `buffer`, which holds `capacity` bytes. Returns the
  // number of bytes written, or -1 when the text is empty, there is no buffer
  // or it is too small (Base64DecodedLength says how large it must be).
  // Characters outside the alphabet ("=", line breaks, ...) are skipped.
  static long Base64Decode(std::string_view text, unsigned char* buffer, std::size_t capacity);
  // The number of bytes that decoding `text` gives.
  static std::size_t Base64DecodedLength(std::string_view text);

  // Text forms.
  static std::string Base64Encode(std::string_view text);
  static std::string Base64Decode(std::string_view text);
};
