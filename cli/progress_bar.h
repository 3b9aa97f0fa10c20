// A one-line progress bar on standard error for long device work, drawn only
// when standard error is a console (never into a file or a pipe).
#pragma once

#include <ostream>

class ProgressBar {
public:
    ProgressBar(std::ostream &err, bool enabled, const char *label, int total);
    ~ProgressBar();  // clears the line
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

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
