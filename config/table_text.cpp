#include "config/table_text.h"

#include "config/c_locale_chars.h"

#include <cstdio>

namespace {

constexpr size_t fieldWidth = 10;  // characters per field, as the editor has always read them

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

bool EndsField(char c) { return c == '\0' || c == ' ' || c == ','; }

struct Field {
    const char *begin = nullptr;
    size_t length = 0;
};

// Up to fieldWidth characters from `at` that are not a blank or a comma; at
// least one. Moves `at` past the field.
bool ScanField(const char *&at, const char *end, Field &field)
{
    field.begin = at;
    field.length = 0;
    while (at < end && field.length < fieldWidth && !EndsField(*at)) {
        ++at;
        ++field.length;
    }
    return field.length > 0;
}

// Optional white space, optional sign, decimal digits up to the first other
// character; no digits gives 0. Saturates instead of wrapping, so a huge
// number can never pass for a small one.
long long FieldValue(const Field &field)
{
    constexpr long long limit = 1000000000000000LL;
    const char *at = field.begin;
    const char *end = field.begin + field.length;
    while (at < end && IsSpace(*at))
        ++at;
    bool negative = false;
    if (at < end && (*at == '+' || *at == '-')) {
        negative = *at == '-';
        ++at;
    }
    long long value = 0;
    while (at < end && *at >= '0' && *at <= '9') {
        if (value < limit)
            value = value * 10 + (*at - '0');
        ++at;
    }
    return negative ? -value : value;
}

// The two fields of one line: the first run up to a blank or comma, any
// white space, then the second such run. Text after it does not matter.
bool ScanLine(const char *begin, const char *end, Field &number, Field &millivolts)
{
    const char *at = begin;
    if (!ScanField(at, end, number))
        return false;
    while (at < end && IsSpace(*at))
        ++at;
    return ScanField(at, end, millivolts);
}

TableTextOutcome Problem(TableTextProblem problem, int first = 0, int second = 0)
{
    TableTextOutcome outcome;
    outcome.problem = problem;
    outcome.first = first;
    outcome.second = second;
    return outcome;
}

}  // namespace

bool TableEditable(const RegisterImage &image, uint8_t offset)
{
    const ConstTempTable table(image, offset);
    const uint8_t count = table.Count();
    return ConstTempTable::ValidCount(count) && table.EntryFits(count - 1u);
}

bool BuildTableText(const RegisterImage &image, uint8_t offset, std::string &text)
{
    text.clear();
    if (!TableEditable(image, offset))
        return false;
    const ConstTempTable table(image, offset);
    const unsigned count = table.Count();
    for (unsigned i = 0; i < count; ++i) {
        const unsigned millivolts = table.SensorMillivolts(i);
        char line[32];
        std::snprintf(line, sizeof line, "%02d) %04dmV\r\n", static_cast<int>(i + 1), static_cast<int>(millivolts));
        text += line;
    }
    return true;
}

TableTextOutcome ParseTableLines(const RegisterImage &image, uint8_t offset, const char *text)
{
    if (!text || !*text)
        return Problem(TableTextProblem::NoData);
    const uint8_t count = image.Byte(offset);
    if (!TableEditable(image, offset))
        return Problem(TableTextProblem::TableNotValid, count);

    TableTextOutcome result;
    int accepted = 0;
    long long bound = fullScaleMillivolts + 1;
    const char *at = text;
    for (;;) {
        while (*at && IsLineBreak(*at))
            ++at;
        if (!*at)
            break;
        const char *lineEnd = at;
        while (*lineEnd && !IsLineBreak(*lineEnd))
            ++lineEnd;

        const int expected = accepted + 1;
        Field numberField, millivoltsField;
        if (!ScanLine(at, lineEnd, numberField, millivoltsField))
            return Problem(TableTextProblem::Malformed, expected);
        const long long number = FieldValue(numberField);
        const long long millivolts = FieldValue(millivoltsField);
        if (number != expected)
            return Problem(TableTextProblem::WrongLineNumber, expected);
        if (millivolts < 0 || millivolts > fullScaleMillivolts)
            return Problem(TableTextProblem::InvalidMillivolts, expected);
        if (number == 1 && millivolts != fullScaleMillivolts)
            return Problem(TableTextProblem::FirstNotFull);
        if (millivolts >= bound)
            return Problem(TableTextProblem::InvalidMillivolts, expected);

        // Lines past the table's count are still checked, but only counted.
        if (result.count < count)
            result.millivolts[result.count++] = static_cast<uint16_t>(millivolts);
        bound = millivolts;
        accepted = expected;
        at = lineEnd;
    }
    if (accepted != count)
        return Problem(TableTextProblem::WrongCount, count, accepted);
    return result;
}

void StoreTableMillivolts(RegisterImage &image, uint8_t offset, const TableTextOutcome &outcome)
{
    if (outcome.problem != TableTextProblem::None || !TableEditable(image, offset))
        return;
    TempTable table(image, offset);
    if (outcome.count != table.Count())
        return;
    for (unsigned i = 0; i < outcome.count; ++i)
        table.SetSensorMillivolts(i, outcome.millivolts[i]);
}

std::string TableTextMessage(const TableTextOutcome &outcome)
{
    char message[128] = {};
    switch (outcome.problem) {
    case TableTextProblem::None:
        break;
    case TableTextProblem::TableNotValid:
        std::snprintf(message, sizeof message, "AP Table Data is NOT valid; 0x%X",
                      static_cast<unsigned>(outcome.first));
        break;
    case TableTextProblem::NoData:
        std::snprintf(message, sizeof message, "No Data found!");
        break;
    case TableTextProblem::Malformed:
        std::snprintf(message, sizeof message, "Data at line %d is malformed", outcome.first);
        break;
    case TableTextProblem::WrongLineNumber:
        std::snprintf(message, sizeof message, "Wrong line number at line %d", outcome.first);
        break;
    case TableTextProblem::InvalidMillivolts:
        std::snprintf(message, sizeof message, "Invalid mV value at line number %d", outcome.first);
        break;
    case TableTextProblem::FirstNotFull:
        std::snprintf(message, sizeof message, "Line1 mV must be 4000");
        break;
    case TableTextProblem::WrongCount:
        std::snprintf(message, sizeof message, "Expected %d values, but %d were found", outcome.first, outcome.second);
        break;
    }
    return message;
}
