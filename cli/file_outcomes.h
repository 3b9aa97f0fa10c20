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

// Exit 3: `step` ("cannot open", "cannot read", "cannot write") on `path`
// failed for `cause`, the system's words.
inline Outcome FileStepFailed(const char *step, const std::string &path, const std::string &cause)
{
    return Outcome::Fail(exitFile, step + (" " + path) + ": " + cause);
}
inline Outcome CannotOpen(const std::string &path, const std::string &cause)
{
    return FileStepFailed("cannot open", path, cause);
}
inline Outcome CannotRead(const std::string &path, const std::string &cause)
{
    return FileStepFailed("cannot read", path, cause);
}
inline Outcome CannotWrite(const std::string &path, const std::string &cause)
{
    return FileStepFailed("cannot write", path, cause);
}
inline Outcome CannotCreateTemporary(const std::string &path, const std::string &cause)
{
    return FileStepFailed("cannot create a temporary file beside", path, cause);
}

// Exit 3: a file of `size` bytes, more than `maxSize`.
inline Outcome FileTooLarge(const std::string &path, long long size, size_t maxSize)
{
    return Outcome::Fail(exitFile, path + " is " + std::to_string(size) +
                                       " bytes long, more than such a file can be (" + std::to_string(maxSize) + ")");
}
