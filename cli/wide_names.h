// zyrctl keeps all text as UTF-8 and talks to Windows in UTF-16: the
// command line comes in wide, and every file name goes to the wide file
// functions, so no character is lost to the ANSI code page.
#pragma once

#include <string>

// Bytes that are not UTF-8 become U+FFFD, as do unpaired surrogates the
// other way.
std::wstring Utf16FromUtf8(const std::string &text);
std::string Utf8FromUtf16(const wchar_t *text, size_t length);
std::string Utf8FromUtf16(const std::wstring &text);

// The name to give the wide file functions for the UTF-8 `path`: as it is
// when its full form fits the classic limit, otherwise that full form in
// its extended-length spelling, so deep folders work too. A relative path
// and ".." are resolved against the current folder before the prefix goes
// on, since the system does not resolve them after it.
std::wstring FileSystemName(const std::string &path);
