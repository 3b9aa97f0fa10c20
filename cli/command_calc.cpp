// The correction calculator on the command line.
#include "cli/commands.h"

#include "settings/correction_calc.h"

namespace {

Outcome Report(const CommandContext &context, CalcStatus status, const CorrectionResult &result,
               const std::string &message, bool json)
{
    if (status == CalcStatus::BadInput)
        return Outcome::Fail(exitUsage, message);
    if (status == CalcStatus::OutOfRange)
        return Outcome::Fail(exitRefused, message);
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
    std::string message;
    const CalcStatus status = CalcTyre(calc.values.at(0), calc.values.at(1), calc.drive, calc.current, result, message);
    return Report(context, status, result, message, json);
}

Outcome RunCalcGps(const CommandContext &context, const CalcOptions &calc, bool json)
{
    CorrectionResult result;
    std::string message;
    const CalcStatus status = CalcGps(calc.values.at(0), calc.values.at(1), calc.current, result, message);
    return Report(context, status, result, message, json);
}
