// zyrctl's standard output and error as C++ streams of UTF-8 text. On a
// console the text is shown through WriteConsoleW, so every script reads
// right whatever the console's code page; into a file or a pipe the UTF-8
// bytes go as they are (--json included), as current console tools do.
#pragma once

#include "base/no_copy.h"

#include <windows.h>

#include <streambuf>
#include <string>

class ConsoleStreamBuffer : public std::streambuf, private NoCopy {
public:
    explicit ConsoleStreamBuffer(HANDLE handle);
    ~ConsoleStreamBuffer() override;

    bool IsConsole() const { return console; }

protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char *text, std::streamsize count) override;
    int sync() override;

private:
    // Writes what is pending; on a console a character cut at the end of
    // the pending bytes waits for the rest of it.
    bool Flush();

    HANDLE handle;
    bool console = false;
    std::string pending;
};

// How many leading bytes of `text` end on a whole UTF-8 character: a lead
// byte at the end whose continuation bytes have not all come yet stays out.
size_t CompleteUtf8Prefix(const std::string &text);
