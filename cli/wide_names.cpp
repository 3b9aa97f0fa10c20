#include "cli/wide_names.h"

#include "settings/extended_path.h"

#include <windows.h>

#include <climits>

std::wstring Utf16FromUtf8(const std::string &text)
{
    if (text.empty() || text.size() > INT_MAX)
        return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], length);
    return wide;
}

std::string Utf8FromUtf16(const wchar_t *text, size_t length)
{
    if (!text || length == 0 || length > INT_MAX)
        return std::string();
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

std::string Utf8FromUtf16(const std::wstring &text) { return Utf8FromUtf16(text.data(), text.size()); }

std::wstring FileSystemName(const std::string &path)
{
    const std::wstring wide = Utf16FromUtf8(path);
    if (wide.empty())
        return wide;
    // The size with its terminating zero when the buffer is too small.
    std::wstring full(classicPathLimit, L'\0');
    DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length >= full.size()) {
        full.assign(length, L'\0');
        length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    }
    if (length == 0 || length >= full.size())
        return wide;  // the system's own error comes from the call that uses it
    full.resize(length);
    if (full.size() < classicPathLimit)
        return wide;
    return ExtendedLengthPath(full);
}
