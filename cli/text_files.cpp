#include "cli/text_files.h"

#include "cli/file_outcomes.h"
#include "cli/wide_names.h"

#include <windows.h>

#include <cstdio>

namespace {

// In the user's language, which may be any script: asked for wide.
std::string SystemErrorText(DWORD error)
{
    wchar_t text[256] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text / sizeof text[0], nullptr);
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' || text[length - 1] == L'.'))
        text[--length] = L'\0';
    if (length == 0) {
        char number[48];
        std::snprintf(number, sizeof number, "system error %lu", static_cast<unsigned long>(error));
        return number;
    }
    return Utf8FromUtf16(text, length);
}

// A new, empty file beside `path` that no other program has: "zyr" and
// eight hex digits, made with CREATE_NEW so an existing one is never
// reused. The classic GetTempFileName takes no folder beyond MAX_PATH.
HANDLE CreateTemporaryBeside(const std::string &path, std::wstring &name, DWORD &error)
{
    const std::string folder = FolderOf(path);
    static LONG counter = 0;
    error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS); ++attempt) {
        const unsigned long seed = (GetTickCount() * 2654435761ul) ^ (GetCurrentProcessId() << 16) ^
                                   static_cast<unsigned long>(InterlockedIncrement(&counter));
        char unique[16];
        std::snprintf(unique, sizeof unique, "zyr%08lX.tmp", seed & 0xFFFFFFFFul);
        name = FileSystemName(folder + unique);
        HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        error = GetLastError();
    }
    return INVALID_HANDLE_VALUE;
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
    return GetFileAttributesW(FileSystemName(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Outcome ReadTextFile(const std::string &path, size_t maxSize, std::string &text)
{
    // Shared for deleting too: a program that replaces the file while this
    // one reads it (the demo's state file, saved by another demo) renames
    // over it, and this one reads the old file whole.
    FileHandle file{CreateFileW(FileSystemName(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE)
        return FileStepFailed(FileStep::open, path, SystemErrorText(GetLastError()));
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.handle, &size))
        return FileStepFailed(FileStep::read, path, SystemErrorText(GetLastError()));
    if (static_cast<unsigned long long>(size.QuadPart) > maxSize)
        return FileTooLarge(path, size.QuadPart, maxSize);
    std::string content(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!content.empty() && (!ReadFile(file.handle, &content[0], static_cast<DWORD>(content.size()), &read, nullptr) ||
                             read != content.size()))
        return FileStepFailed(FileStep::read, path, SystemErrorText(GetLastError()));
    text.swap(content);
    return Outcome::Success();
}

Outcome WriteFileAtomically(const std::string &path, const std::string &text, bool force, bool flush)
{
    if (!force && FileExists(path))
        return FileExistsRefusal(path);
    std::wstring temporary;
    DWORD created = 0;
    {
        FileHandle file{CreateTemporaryBeside(path, temporary, created)};
        if (file.handle == INVALID_HANDLE_VALUE)
            return FileStepFailed(FileStep::createTemporary, path, SystemErrorText(created));
        DWORD written = 0;
        const bool ok = WriteFile(file.handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                        written == text.size() && (!flush || FlushFileBuffers(file.handle));
        if (!ok) {
            const DWORD error = GetLastError();
            CloseHandle(file.handle);
            file.handle = INVALID_HANDLE_VALUE;
            DeleteFileW(temporary.c_str());
            return FileStepFailed(FileStep::write, path, SystemErrorText(error));
        }
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (force ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(temporary.c_str(), FileSystemName(path).c_str(), flags)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            return FileExistsRefusal(path);
        return FileStepFailed(FileStep::write, path, SystemErrorText(error));
    }
    return Outcome::Success();
}
