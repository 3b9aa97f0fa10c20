// The hidden window of a Wnd object: its class, its creation and the
// window procedure that routes its messages to the object.
#include "device/wnd.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

unsigned windowCounter = 0;

LRESULT Wnd::HandleMessage(HWND, UINT, WPARAM, LPARAM) { return 0; }

int Wnd::Create()
{
    // One hidden window per object: a second call keeps the first.
    if (window)
        return 1;
    instance = GetModuleHandleA(nullptr);
    // A class left behind by a window that could not be created goes now,
    // before the object takes a new name.
    if (className[0])
        UnregisterClassA(className, instance);

    const unsigned number = __atomic_add_fetch(&windowCounter, 1u, __ATOMIC_SEQ_CST);
    // The whole instance value, at either width.
    std::snprintf(className, sizeof className, "WndClass 0x%X 0x%X 0x%" PRIXPTR, number,
                  static_cast<unsigned>(GetCurrentThreadId()), reinterpret_cast<uintptr_t>(instance));

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = className;
    if (!RegisterClassExA(&windowClass)) {
        className[0] = '\0';  // nothing of ours to unregister
        return 0;
    }

    // Never shown: it exists only to receive messages.
    window = CreateWindowExA(WS_EX_CLIENTEDGE, className, "MyWndClass", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
    return window ? 1 : 0;
}

void Wnd::Destroy()
{
    if (window)
        DestroyWindow(window);
    window = nullptr;
    UnregisterClassA(className, instance);
}

LRESULT CALLBACK Wnd::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        // The creation parameter is used once; the window's user data holds
        // the object from here on.
        auto *create = reinterpret_cast<CREATESTRUCTA *>(lParam);
        auto *object = static_cast<Wnd *>(create->lpCreateParams);
        create->lpCreateParams = nullptr;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
        break;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY: {
        auto *object = reinterpret_cast<Wnd *>(GetWindowLongPtrA(window, GWLP_USERDATA));
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        if (object) {
            // The object outlives its window: it must not keep a handle
            // that the system may give to another window.
            if (object->window == window)
                object->window = nullptr;
            object->OnDestroy();
        }
        return 0;
    }
    default:
        break;
    }
    auto *object = reinterpret_cast<Wnd *>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (object)
        return object->HandleMessage(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}
