// Whole-file reads and crash-safe replacement of a file, for the registry and the configuration
// store: a reader sees either the old content or the new, never a half-written file.
#pragma once

#include <string>
#include <string_view>

namespace vmk::com {

enum class ReadResult { Ok, Missing, Unreadable };

// The whole content of `path`. Missing: the file does not exist; Unreadable: it exists but could
// not be read (permissions, a directory, an I/O error), with the reason in `error`.
ReadResult ReadWholeFile(const std::string& path, std::string* content, std::string* error);

// Writes `content` to a new file beside `path`, flushes it to disk and renames it over `path`.
// Creates missing parent directories. On failure `path` is untouched and `error` says why.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error);

// Creates `dir` and its missing parents (mode 0755).
bool MakeDirectories(const std::string& dir, std::string* error);

}  // namespace vmk::com
