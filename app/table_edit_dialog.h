// The modal editor for the voltage column of one temperature table.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

// Offset in the image of the table the editor works on: 93, 12, 203 or 122.
extern uint8_t editTableOffset;
// How ParseTableText allocates its zeroed copy of the text (calloc); tests
// replace it to take the allocation-failure path.
extern void *(*allocateTableText)(size_t count, size_t size);

INT_PTR CALLBACK TableEditDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
bool FillTableText(HWND dialog);
bool ParseTableText(HWND dialog);
