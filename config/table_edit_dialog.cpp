#include "config/table_edit_dialog.h"
// TODO(config): not built yet.
uint8_t editTableOffset = 0;
INT_PTR CALLBACK TableEditDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
bool FillTableText(HWND) { return false; }
bool ParseTableText(HWND) { return false; }
