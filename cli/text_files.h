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
// (otherwise exit 4, nothing touched). With `flush` the new file is on the
// disk before it replaces the old, so a power cut too leaves one or the
// other: the user's files. Without, other programs still see it whole or
// not at all, which is all the demo's state file, saved after every
// register written, needs.
Outcome WriteFileAtomically(const std::string &path, const std::string &text, bool force, bool flush = true);

bool FileExists(const std::string &path);

// `path`'s folder (with its separator) or "" for the current folder.
std::string FolderOf(const std::string &path);
