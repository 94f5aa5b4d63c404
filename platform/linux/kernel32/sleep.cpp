#include "platform/win32_base.h"

#include <chrono>
#include <thread>

extern "C" void Sleep(DWORD milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
