#include "tests/support/temp_folder.h"

#include <windows.h>

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
    RemoveDirectoryW(path.c_str());
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
}
