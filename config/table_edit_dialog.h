// The modal editor for the voltage column of one temperature table.
#pragma once

#include <windows.h>
#include <cstdint>

extern uint8_t editTableOffset;

INT_PTR CALLBACK TableEditDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
bool FillTableText(HWND dialog);
bool ParseTableText(HWND dialog);
