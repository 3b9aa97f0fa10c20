// The correction calculator on the command line.
#include "cli/commands.h"

#include "settings/correction_calc.h"

namespace {

// Runs `calculate` (its result and status out) and prints what it found;
// a value out of range is refused (exit 4), any other problem is usage.
template <typename Calculate> Outcome Report(const CommandContext &context, bool json, Calculate calculate)
{
    CorrectionResult result;
    CalcStatus status = CalcStatus::Ok;
    const Result calculated = calculate(result, status);
    if (!calculated)
        return Outcome::From(calculated, status == CalcStatus::OutOfRange ? exitRefused : exitUsage);
    return context.PrintResult(json, CorrectionJson(result), CorrectionText(result));
}

}  // namespace

Outcome RunCalcTyre(const CommandContext &context, const CalcOptions &calc, bool json)
{
    return Report(context, json, [&](CorrectionResult &result, CalcStatus &status) {
        return CalcTyre(calc.values.at(0), calc.values.at(1), calc.drive, calc.current, result, status);
    });
}

Outcome RunCalcGps(const CommandContext &context, const CalcOptions &calc, bool json)
{
    return Report(context, json, [&](CorrectionResult &result, CalcStatus &status) {
        return CalcGps(calc.values.at(0), calc.values.at(1), calc.current, result, status);
    });
}
