// The correction calculator on the command line.
#include "cli/commands.h"

#include "settings/correction_calc.h"

namespace {

Outcome Report(const CommandContext &context, const Result &calculated, CalcStatus status,
               const CorrectionResult &result, bool json)
{
    if (!calculated)
        return Outcome::From(calculated, status == CalcStatus::OutOfRange ? exitRefused : exitUsage);
    if (json)
        context.Out() << CorrectionJson(result).dump(2, ' ', false, replaceBadText) << "\n";
    else
        context.Out() << CorrectionText(result);
    return Outcome::Success();
}

}  // namespace

Outcome RunCalcTyre(const CommandContext &context, const CalcOptions &calc, bool json)
{
    CorrectionResult result;
    CalcStatus status = CalcStatus::Ok;
    const Result calculated = CalcTyre(calc.values.at(0), calc.values.at(1), calc.drive, calc.current, result, status);
    return Report(context, calculated, status, result, json);
}

Outcome RunCalcGps(const CommandContext &context, const CalcOptions &calc, bool json)
{
    CorrectionResult result;
    CalcStatus status = CalcStatus::Ok;
    const Result calculated = CalcGps(calc.values.at(0), calc.values.at(1), calc.current, result, status);
    return Report(context, calculated, status, result, json);
}
