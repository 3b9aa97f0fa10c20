// The main window and the routines through which the rest of the program
// talks to the user.
#pragma once

#include <windows.h>
#include <atomic>
#include <cstdarg>

extern HWND mainDialogHandle;

// printf-style text on the status line, shown with one leading space.
void StatusLine(const char *format, ...) __attribute__((format(printf, 1, 2)));
// The same, for a caller that takes the format and its values itself.
void StatusLineV(const char *format, va_list arguments) __attribute__((format(printf, 1, 0)));
// printf-style modal error box, caption "Error".
void ErrorBox(HWND owner, const char *format, ...) __attribute__((format(printf, 2, 3)));
// MessageBoxA with MB_TOPMOST, kept above other windows even where the
// system's boxes ignore the flag.
int TopmostBox(HWND owner, const char *text, const char *caption, UINT type);
void SetDialogIcon(HWND dialog);

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// F1 presses counted by the main dialog; 11 opens the factory format sequence.
// The dialog thread counts them; a Read Device worker reads and clears the
// count as it starts.
extern std::atomic<unsigned> helpPressCount;
