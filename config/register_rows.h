// The converter's 256 registers as 16 text rows "XX: b0 b1 ... b15", the
// layout both the backup file and the simulator's state file use. Portable:
// no Windows here.
#pragma once

#include "base/result.h"

#include <cstdint>
#include <string>

constexpr unsigned registerRowBytes = 16;

// `text` without the spaces and tabs at either end.
std::string TrimBlanks(const std::string &text);

// Up to 40 characters of `text`, control bytes as '?', for messages.
std::string ShownInMessage(const std::string &text);

// The 16 rows "00: ..." to "F0: ...", upper-case hex, each ended by "\n".
std::string FormatRegisterRows(const uint8_t (&registers)[256]);

// One row without blanks around it: the offset in two hex digits and a
// colon, then 16 bytes of two hex digits each, separated by blanks. A failure
// names the problem in words on anything else; the caller checks the offset.
Result ParseRegisterRow(const std::string &row, unsigned &offset, uint8_t (&bytes)[registerRowBytes]);

// The registers of the 16 rows "00:" to "F0:" found among the lines of
// `text`, each row once, in any order; every other line (a backup file's
// comments, fields and CRC, blank lines) is passed over. A failure names a
// row out of place or repeated, or how many of the 16 were found;
// `registers` is then untouched.
Result RegistersFromRows(const std::string &text, uint8_t (&registers)[256]);
