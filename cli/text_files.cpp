#include "cli/text_files.h"

#include <windows.h>

#include <cstdio>

namespace {

std::string SystemErrorText(DWORD error)
{
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        text[--length] = '\0';
    if (length == 0)
        std::snprintf(text, sizeof text, "system error %lu", static_cast<unsigned long>(error));
    return text;
}

// Closes the handle on every path out.
struct FileHandle {
    HANDLE handle;
    ~FileHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

}  // namespace

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Outcome ReadTextFile(const std::string &path, size_t maxSize, std::string &text)
{
    FileHandle file{CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE)
        return Outcome::Fail(exitFile, "cannot open " + path + ": " + SystemErrorText(GetLastError()));
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.handle, &size))
        return Outcome::Fail(exitFile, "cannot read " + path + ": " + SystemErrorText(GetLastError()));
    if (static_cast<unsigned long long>(size.QuadPart) > maxSize)
        return Outcome::Fail(exitFile, path + " is " + std::to_string(size.QuadPart) +
                                           " bytes long, more than such a file can be (" +
                                           std::to_string(maxSize) + ")");
    std::string content(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!content.empty() &&
        (!ReadFile(file.handle, &content[0], static_cast<DWORD>(content.size()), &read, nullptr) ||
         read != content.size()))
        return Outcome::Fail(exitFile, "cannot read " + path + ": " + SystemErrorText(GetLastError()));
    text.swap(content);
    return Outcome::Success();
}

Outcome WriteFileAtomically(const std::string &path, const std::string &text, bool force)
{
    if (!force && FileExists(path))
        return Outcome::Fail(exitRefused, path + " already exists; it is overwritten only with --force");
    std::string folder = FolderOf(path);
    char temporary[MAX_PATH + 1] = {};
    if (!GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "zyr", 0, temporary))
        return Outcome::Fail(exitFile, "cannot create a temporary file beside " + path + ": " +
                                           SystemErrorText(GetLastError()));
    {
        FileHandle file{CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr)};
        DWORD written = 0;
        const bool ok = file.handle != INVALID_HANDLE_VALUE &&
                        WriteFile(file.handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                        written == text.size() && FlushFileBuffers(file.handle);
        if (!ok) {
            const DWORD error = GetLastError();
            if (file.handle != INVALID_HANDLE_VALUE)
                CloseHandle(file.handle);
            file.handle = INVALID_HANDLE_VALUE;
            DeleteFileA(temporary);
            return Outcome::Fail(exitFile, "cannot write " + path + ": " + SystemErrorText(error));
        }
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (force ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExA(temporary, path.c_str(), flags)) {
        const DWORD error = GetLastError();
        DeleteFileA(temporary);
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            return Outcome::Fail(exitRefused, path + " already exists; it is overwritten only with --force");
        return Outcome::Fail(exitFile, "cannot write " + path + ": " + SystemErrorText(error));
    }
    return Outcome::Success();
}
