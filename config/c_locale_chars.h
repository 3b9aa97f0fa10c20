// Character classes as the C library's "C" locale has them, whatever locale
// the program runs in. Portable.
#pragma once

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
