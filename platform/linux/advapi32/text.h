// Text helpers of the advapi32 layer: UTF-16 from the callers, UTF-8 in our
// files, and the file-name keys under which names are stored.
#pragma once

#include "platform/win32_base.h"

#include <string>

namespace quillon::advapi32 {

// UTF-8 copy of a null-terminated UTF-16 string; a null pointer gives "".
std::string toUtf8(LPCWSTR text);
std::u16string toUtf16(const std::string& text);

// Service names and event sources compare without regard to ASCII case, as
// on Windows.
std::string foldCase(const std::string& text);
bool sameName(const std::string& a, const std::string& b);

// A file name for a service or event source: the case-folded name with every
// byte outside [a-z0-9._-] written as %XX; long names are cut and get a hash
// of the whole name so that the key stays within NAME_MAX.
std::string fileKey(const std::string& name);

// JSON string literal (with the quotes) of UTF-8 text.
std::string jsonString(const std::string& text);
std::string hexBytes(const void* data, std::size_t size);

} // namespace quillon::advapi32

namespace quillon::advapi32 {
// True for a null or empty machine name, ".", "localhost" and this host's
// name, each with or without a leading "\\".
bool isLocalMachine(LPCWSTR machineName);
} // namespace quillon::advapi32
