// A one-line progress bar on standard error for long device work, drawn only
// when standard error is a console (never into a file or a pipe).
#pragma once

#include "base/no_copy.h"

#include <ostream>

class ProgressBar : private NoCopy {
public:
    ProgressBar(std::ostream &err, bool enabled, const char *label, int total);
    ~ProgressBar();  // clears the line

    void Step();

private:
    void Draw();

    std::ostream &err;
    bool enabled;
    const char *label;
    int total;
    int done = 0;
    int drawnPercent = -1;
};
