// A temperature table's voltage column as the editor shows it, one line per
// entry, and the checks that read an edited text back. Portable: no Windows
// here; the table-edit dialog is a thin shell over these.
#pragma once

#include "config/config_image.h"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr unsigned maxTableEntries = 20;
constexpr int fullScaleMillivolts = 4000;  // the first entry, and the upper bound

// A table the editor can work on: its count is 7 or 20 and every entry lies
// inside the image (an AP1 5V table whose count reads 20 would run past byte
// 255; it is refused, never wrapped into the start of the image).
bool TableEditable(const RegisterImage &image, uint8_t offset);

// "%02d) %04dmV\r\n" for each entry, numbered from 1. False (text empty)
// when the table is not editable.
bool BuildTableText(const RegisterImage &image, uint8_t offset, std::string &text);

enum class TableTextProblem {
    None,
    TableNotValid,  // count not 7 or 20, or entries past byte 255; first = count
    NoData,  // empty text
    Malformed,  // fewer than two fields; first = expected line
    WrongLineNumber,  // first = expected line
    InvalidMillivolts,  // out of 0..4000 or not below the previous; first = line
    FirstNotFull,  // line 1 is not 4000
    WrongCount,  // first = table count, second = lines accepted
};

struct TableTextOutcome {
    TableTextProblem problem = TableTextProblem::None;
    int first = 0;  // the numbers the message shows, see above
    int second = 0;
    unsigned count = 0;  // on success: entries in millivolts
    uint16_t millivolts[maxTableEntries] = {};
};

// Checks an edited text against the table at `offset` and, when every line
// passes, returns the new voltage column. The first failing check decides:
// lines are split on runs of CR and LF (empty lines neither counted nor
// numbered), each scanned for two fields of up to 10 characters ended by a
// blank or a comma, converted as decimal numbers with an optional sign and
// without wrapping, then checked in order: line number, 0..4000, line 1 is
// 4000, strictly below the line before; last, the number of lines.
TableTextOutcome ParseTableLines(const RegisterImage &image, uint8_t offset, const char *text);

// Writes the voltage column into the table; every pairedValue stays.
void StoreTableMillivolts(RegisterImage &image, uint8_t offset, const TableTextOutcome &outcome);

// The message the user sees for a problem (empty for None).
std::string TableTextMessage(const TableTextOutcome &outcome);
