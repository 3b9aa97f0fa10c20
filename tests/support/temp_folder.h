// A folder of a test's own in the temporary folder, removed with all it
// holds when the test ends: the programs a test runs leave their files
// (backups, pre-write backups, logs) there, and nothing stays behind.
#pragma once

#include "base/no_copy.h"

#include <string>

// Everything below `path` (a folder name for the wide functions), then the folder.
void RemoveTree(const std::wstring &path);

class TempFolder : private NoCopy {
public:
    // A new folder whose name starts with `prefix`.
    explicit TempFolder(const char *prefix);
    ~TempFolder();

    // The full path, ending with a backslash.
    const std::string &Path() const { return path; }

private:
    std::string path;
};
