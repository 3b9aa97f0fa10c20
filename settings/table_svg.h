// A temperature table's voltage column as a chart: a self-contained SVG that
// a browser opens. Portable: no Windows here.
#pragma once

#include "base/result.h"
#include "config/config_image.h"

#include <cstdint>
#include <string>

// Entry number against sensor voltage (mV), with axes, tick labels, units
// and the table's name as title. Only entries that lie inside the image are
// drawn. Refused with a message, `svg` empty, for an offset that is none of the
// four tables or a table whose count is not 7 or 20.
Result TableSvg(const RegisterImage &image, uint8_t tableOffset, std::string &svg);
