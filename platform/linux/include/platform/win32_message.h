// The window message record that the toolkit's native event filter receives
// on Windows. On Linux no Windows message is ever delivered; the types exist
// so that the same filter code builds and can be exercised directly.
#pragma once

#include "platform/win32_base.h"

#include <cstdint>

struct HWND__;
using HWND = HWND__*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

#define WM_ENDSESSION 0x0016
#define ENDSESSION_LOGOFF 0x80000000UL
