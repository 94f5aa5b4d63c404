#include "native_library.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <stdexcept>

NativeLibrary::NativeLibrary(const std::string& path)
    : handle_(LoadLibraryA(path.c_str()))
{
    if (handle_ == nullptr) {
        throw std::runtime_error("LoadLibrary failed with error " + std::to_string(GetLastError()));
    }
}

NativeLibrary::~NativeLibrary()
{
    FreeLibrary(static_cast<HMODULE>(handle_));
}

void* NativeLibrary::symbol(const std::string& name) const
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name.c_str()));
}

std::string exportName(const std::string& method, int stdcallArgumentBytes)
{
    const std::string plain = "Java_Quillon_Vaultor_" + method;
    if (sizeof(void*) == 4 && stdcallArgumentBytes > 0) {
        return "_" + plain + "@" + std::to_string(stdcallArgumentBytes);
    }
    return plain;
}

void useBinaryStdout()
{
    fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}
