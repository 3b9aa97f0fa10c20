// The outcomes of zyrctl's file steps, worded once for the Windows and the
// POSIX file code (text_files.h) and for the commands that refuse a file
// before the converter is read.
#pragma once

#include "cli/exit_codes.h"

#include <cstddef>
#include <string>

// Exit 4: an existing file is replaced only with --force.
inline Outcome FileExistsRefusal(const std::string &path)
{
    return Outcome::Fail(exitRefused, path + " already exists; it is overwritten only with --force");
}

// Exit 3: `step` on `path` failed for `cause`, the system's words.
enum class FileStep { open, read, write, createTemporary };
inline Outcome FileStepFailed(FileStep step, const std::string &path, const std::string &cause)
{
    static const char *const words[] = {"cannot open ", "cannot read ", "cannot write ",
                                        "cannot create a temporary file beside "};
    return Outcome::Fail(exitFile, words[static_cast<int>(step)] + path + ": " + cause);
}

// Exit 3: a file of `size` bytes, more than `maxSize`.
inline Outcome FileTooLarge(const std::string &path, long long size, size_t maxSize)
{
    return Outcome::Fail(exitFile, path + " is " + std::to_string(size) +
                                       " bytes long, more than such a file can be (" + std::to_string(maxSize) + ")");
}
