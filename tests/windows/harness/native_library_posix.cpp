#include "native_library.h"

#include <dlfcn.h>

#include <stdexcept>

NativeLibrary::NativeLibrary(const std::string& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
{
    if (handle_ == nullptr) {
        throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
    }
}

NativeLibrary::~NativeLibrary()
{
    dlclose(handle_);
}

void* NativeLibrary::symbol(const std::string& name) const
{
    return dlsym(handle_, name.c_str());
}

std::string exportName(const std::string& method, int)
{
    return "Java_Quillon_Vaultor_" + method;
}

void useBinaryStdout() {}
