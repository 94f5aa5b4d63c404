// Loading the library under test the way the JVM does on this system, and the
// names under which this system's build exports its entry points.
#pragma once

#include <string>

class NativeLibrary {
public:
    // Throws std::runtime_error with the system's reason when loading fails.
    explicit NativeLibrary(const std::string& path);
    ~NativeLibrary();
    NativeLibrary(const NativeLibrary&) = delete;
    NativeLibrary& operator=(const NativeLibrary&) = delete;

    // The export's address, or null when there is no export of that name.
    void* symbol(const std::string& name) const;

private:
    void* handle_;
};

// The export name of `Java_Quillon_Vaultor_<method>`: standard-call entry
// points (stdcallArgumentBytes > 0) carry a decorated name where the system
// decorates them.
std::string exportName(const std::string& method, int stdcallArgumentBytes);

// Makes standard output pass bytes unchanged, so the library's own writes to
// it can be compared byte for byte.
void useBinaryStdout();
