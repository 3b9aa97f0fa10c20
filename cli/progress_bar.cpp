#include "cli/progress_bar.h"

#include <string>

namespace {
constexpr int barWidth = 30;
}

ProgressBar::ProgressBar(std::ostream &err, bool enabled, const char *label, int total)
    : err(err), enabled(enabled && total > 0), label(label), total(total)
{
    Draw();
}

ProgressBar::~ProgressBar()
{
    if (!enabled)
        return;
    err << '\r' << std::string(barWidth + 40, ' ') << '\r' << std::flush;
}

void ProgressBar::Step()
{
    ++done;
    Draw();
}

void ProgressBar::Draw()
{
    if (!enabled)
        return;
    const int percent = 100 * done / total;
    if (percent == drawnPercent)
        return;  // redraw only when the figure changes
    drawnPercent = percent;
    const size_t filled = static_cast<size_t>(barWidth * done / total);
    err << '\r' << label << " [" << std::string(filled, '#') << std::string(static_cast<size_t>(barWidth) - filled, ' ')
        << "] " << percent << "% " << std::flush;
}
