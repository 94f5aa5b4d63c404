// The library's entry point. It keeps no per-thread state, so the threads a
// JVM starts and ends need not call into it.
#include "platform/win32_base.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}
