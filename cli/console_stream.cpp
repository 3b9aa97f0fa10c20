#include "cli/console_stream.h"

#include "cli/wide_names.h"

namespace {

// Enough to keep a line together, small enough to show progress at once.
constexpr size_t flushAt = 4096;

bool WriteAll(HANDLE handle, const char *bytes, size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

}  // namespace

size_t CompleteUtf8Prefix(const std::string &text)
{
    // A character is at most 4 bytes: look back at most 3 for its lead.
    const size_t size = text.size();
    for (size_t back = 1; back <= 3 && back <= size; ++back) {
        const unsigned char c = static_cast<unsigned char>(text[size - back]);
        if ((c & 0xC0) == 0x80)
            continue;  // a continuation byte: its lead is further back
        const size_t needed = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return needed > back ? size - back : size;
    }
    return size;  // no lead byte near the end: bad bytes, passed on for the converter to replace
}

ConsoleStreamBuffer::ConsoleStreamBuffer(HANDLE handle) : handle(handle)
{
    DWORD mode = 0;
    console = handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

ConsoleStreamBuffer::~ConsoleStreamBuffer() { Flush(); }

int ConsoleStreamBuffer::overflow(int c)
{
    if (c == traits_type::eof())
        return Flush() ? 0 : traits_type::eof();
    pending += static_cast<char>(c);
    if (pending.size() >= flushAt && !Flush())
        return traits_type::eof();
    return c;
}

std::streamsize ConsoleStreamBuffer::xsputn(const char *text, std::streamsize count)
{
    pending.append(text, static_cast<size_t>(count));
    if (pending.size() >= flushAt && !Flush())
        return 0;
    return count;
}

int ConsoleStreamBuffer::sync() { return Flush() ? 0 : -1; }

bool ConsoleStreamBuffer::Flush()
{
    if (pending.empty() || !handle || handle == INVALID_HANDLE_VALUE)
        return true;
    if (!console) {
        const bool ok = WriteAll(handle, pending.data(), pending.size());
        pending.clear();
        return ok;
    }
    const size_t whole = CompleteUtf8Prefix(pending);
    const std::wstring wide = Utf16FromUtf8(pending.substr(0, whole));
    pending.erase(0, whole);
    const wchar_t *at = wide.data();
    size_t left = wide.size();
    while (left > 0) {
        DWORD written = 0;
        DWORD chunk = left > 8192 ? 8192 : static_cast<DWORD>(left);
        if (chunk < left && at[chunk - 1] >= 0xD800 && at[chunk - 1] <= 0xDBFF)
            --chunk;  // a surrogate pair stays in one call
        if (!WriteConsoleW(handle, at, chunk, &written, nullptr) || written == 0)
            return false;
        at += written;
        left -= written;
    }
    return true;
}
