// A small base class owning one hidden top-level window whose messages are
// routed to virtual operations of the object.
#pragma once

#include "base/no_copy.h"

#include <windows.h>

class Wnd : private NoCopy {
public:
    Wnd() = default;
    virtual ~Wnd() {}  // releases nothing: see Destroy
    virtual void OnDestroy() {}
    virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    int Create();
    void Destroy();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window = nullptr;
    HINSTANCE instance = nullptr;
    char className[260] = {};
};

// Windows created by all Wnd objects of the process.
extern unsigned windowCounter;
