// The four questions of the hidden factory format, in the order the dialog
// asks them in boxes captioned "DEVICE FORMAT": the text and the buttons of
// each, as the user sees them. The dialog driven in the test's own process
// and zyr.exe driven as a process of its own are held to the same questions.
#pragma once

#include <windows.h>

#include <vector>

inline const char *const formatQuestions[4] = {
    "Do you want to Factory Format your Device?",
    "WARNING! Selecting the wrong options will cause your ZYR device to not work correctly, do you understand?",
    "Does your ZYR device have ECT capability?",
    "Does your ZYR device have a black colored harness connector?\nYES = ZYR has Black Connector\nNO = ZYR has "
    "White connector",
};

// The buttons of question n (0 to 3): the first two ask Yes or No, the two
// about the hardware can be cancelled too.
inline std::vector<int> FormatQuestionButtons(int n)
{
    return n < 2 ? std::vector<int>{IDYES, IDNO} : std::vector<int>{IDYES, IDNO, IDCANCEL};
}
