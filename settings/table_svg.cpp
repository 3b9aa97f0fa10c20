#include "settings/table_svg.h"

#include "settings/settings_view.h"

#include <cstdio>

namespace {

// Plot area in SVG user units; everything is placed with integer arithmetic.
constexpr int width = 640, height = 420;
constexpr int left = 80, right = 24, top = 48, bottom = 64;
constexpr int plotWidth = width - left - right;
constexpr int plotHeight = height - top - bottom;

std::string Format(const char *format, int a, int b, int c, int d)
{
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

// A round top for the voltage axis: 4000 mV unless a stored value is higher.
int AxisTop(int highest)
{
    const int step = 500;
    const int topValue = (highest + step - 1) / step * step;
    return topValue < 4000 ? 4000 : topValue;
}

}  // namespace

Result TableSvg(const RegisterImage &image, uint8_t tableOffset, std::string &svg)
{
    svg.clear();
    const TableInfo *table = FindTableByOffset(tableOffset);
    if (!table)
        return Result::Fail("offset " + std::to_string(tableOffset) + " holds no temperature table");
    const uint8_t count = image.Byte(tableOffset);
    if (!TempTable::ValidCount(count))
        return Result::Fail(std::string("the ") + table->name + " table's count " + std::to_string(count) +
                            " is not valid (7 or 20 expected): there is nothing to draw");
    ConstTempTable view(image, tableOffset);
    unsigned entries = 0;
    int highest = 0;
    while (entries < count && view.EntryFits(entries)) {
        if (view.SensorMillivolts(entries) > highest)
            highest = view.SensorMillivolts(entries);
        ++entries;
    }
    const int axisTop = AxisTop(highest);
    const int lastEntry = count;  // the x axis spans the table's count
    auto x = [&](int entry) { return left + (lastEntry > 1 ? (entry - 1) * plotWidth / (lastEntry - 1) : 0); };
    auto y = [&](int millivolts) { return top + plotHeight - millivolts * plotHeight / axisTop; };

    const std::string title = std::string(table->title) + " table (" + table->name + "): sensor voltage by entry";
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">\n",
                  width, height, width, height);
    svg += "<title>" + title + "</title>\n";
    svg += Format("<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"white\"/>\n", width, height, 0, 0);
    svg += "<g font-family=\"sans-serif\" font-size=\"12\" fill=\"black\">\n";
    svg += Format("<text x=\"%d\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">", width / 2, 0, 0, 0) + title +
           "</text>\n";

    // Axes, grid and tick labels.
    svg +=
        Format("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\"/>\n", left, top, left, top + plotHeight);
    svg += Format("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\"/>\n", left, top + plotHeight,
                  left + plotWidth, top + plotHeight);
    const int voltageStep = axisTop <= 4000 ? 500 : axisTop / 8 / 500 * 500 + 500;
    for (int mv = 0; mv <= axisTop; mv += voltageStep) {
        svg += Format("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#dddddd\"/>\n", left, y(mv),
                      left + plotWidth, y(mv));
        svg += Format("<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%d</text>\n", left - 6, y(mv) + 4, mv, 0);
    }
    for (int entry = 1; entry <= lastEntry; ++entry) {
        svg += Format("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\"/>\n", x(entry), top + plotHeight,
                      x(entry), top + plotHeight + 5);
        svg += Format("<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">%d</text>\n", x(entry), top + plotHeight + 18,
                      entry, 0);
    }
    svg += Format("<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">entry</text>\n", left + plotWidth / 2, height - 16, 0,
                  0);
    svg += Format("<text x=\"20\" y=\"%d\" text-anchor=\"middle\" transform=\"rotate(-90 20 %d)\">sensor voltage "
                  "(mV)</text>\n",
                  top + plotHeight / 2, top + plotHeight / 2, 0, 0);
    svg += "</g>\n";

    // The curve and its points.
    std::string points;
    for (unsigned i = 0; i < entries; ++i)
        points += (i ? " " : "") + std::to_string(x(static_cast<int>(i) + 1)) + "," +
                  std::to_string(y(view.SensorMillivolts(i)));
    svg += "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\" points=\"" + points + "\"/>\n";
    for (unsigned i = 0; i < entries; ++i)
        svg += Format("<circle cx=\"%d\" cy=\"%d\" r=\"4\" fill=\"#1f5fbf\"><title>entry %d: %d mV</title></circle>\n",
                      x(static_cast<int>(i) + 1), y(view.SensorMillivolts(i)), static_cast<int>(i) + 1,
                      view.SensorMillivolts(i));
    if (entries < count)
        svg += Format("<text x=\"%d\" y=\"%d\" font-family=\"sans-serif\" font-size=\"12\" text-anchor=\"end\">"
                      "entries %d to %d lie past register 255 and are not drawn</text>\n",
                      left + plotWidth, top - 8, static_cast<int>(entries) + 1, count);
    svg += "</svg>\n";
    return Result::Success();
}
