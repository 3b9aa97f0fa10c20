// Factory Defaults (memory only) and the hidden factory format sequence.
#pragma once

#include <windows.h>

void LoadFactoryDefaults(HWND owner);
void RunFactoryFormat();
