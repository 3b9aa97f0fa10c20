// Files as zyrctl reads and writes them. A file is written whole or not at
// all: into a temporary file in the same folder, then renamed over the
// target, so a crash leaves the old file or the new one, never half of one.
#pragma once

#include "cli/exit_codes.h"

#include <cstddef>
#include <string>

// The whole file; exit 3 with the cause when it is missing, unreadable or
// larger than `maxSize`.
Outcome ReadTextFile(const std::string &path, size_t maxSize, std::string &text);

// Writes `text` to `path`; an existing file is replaced only with `force`
// (otherwise exit 4, nothing touched).
Outcome WriteFileAtomically(const std::string &path, const std::string &text, bool force);

bool FileExists(const std::string &path);

// `path`'s folder (with its separator) or "" for the current folder.
std::string FolderOf(const std::string &path);
