#include "tests/support/temp_folder.h"

#include <windows.h>

#include <doctest.h>

void RemoveTree(const std::wstring &path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path + L"\\" + name);
            else
                DeleteFileW((path + L"\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    // A program the test started may still have it as its current folder
    // for a moment after it ended.
    for (int i = 0; i < 100 && !RemoveDirectoryW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
                    GetLastError() != ERROR_PATH_NOT_FOUND;
         ++i)
        Sleep(20);
}

TempFolder::TempFolder(const char *prefix)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    char unique[MAX_PATH] = {};
    GetTempFileNameA(temp, prefix, 0, unique);  // creates the file: take its name for a folder
    DeleteFileA(unique);
    CreateDirectoryA(unique, nullptr);
    path = std::string(unique) + "\\";
}

TempFolder::~TempFolder()
{
    const std::string folder = path.substr(0, path.size() - 1);
    RemoveTree(std::wstring(folder.begin(), folder.end()));
    CHECK_MESSAGE(GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES, "left behind: ", folder);
}
