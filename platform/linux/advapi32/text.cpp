#include "text.h"

#include "utf16.h"

#include <cstdint>
#include <cstdio>

namespace quillon::advapi32 {

std::string toUtf8(LPCWSTR text)
{
    if (text == nullptr)
        return {};
    return linux_text::utf16ToUtf8(std::u16string(text));
}

std::u16string toUtf16(const std::string& text)
{
    return linux_text::utf8ToUtf16(text);
}

std::string foldCase(const std::string& text)
{
    std::string folded = text;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

bool sameName(const std::string& a, const std::string& b)
{
    return foldCase(a) == foldCase(b);
}

namespace {
std::uint64_t fnv1a64(const std::string& text)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}
} // namespace

std::string fileKey(const std::string& name)
{
    static const char* const digits = "0123456789ABCDEF";
    const std::string folded = foldCase(name);
    std::string key;
    for (const char c : folded) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')
                           || byte == '_' || byte == '-' || (byte == '.' && !key.empty());
        if (plain) {
            key.push_back(c);
        } else {
            key.push_back('%');
            key.push_back(digits[byte >> 4]);
            key.push_back(digits[byte & 0xF]);
        }
    }
    constexpr std::size_t kMaxKey = 160;
    if (key.size() > kMaxKey) {
        char hash[24];
        std::snprintf(hash, sizeof hash, "~%016llx",
                      static_cast<unsigned long long>(fnv1a64(folded)));
        key.resize(kMaxKey);
        // Do not leave half an escape at the cut.
        const std::size_t percent = key.rfind('%');
        if (percent != std::string::npos && percent + 3 > key.size())
            key.resize(percent);
        key += hash;
    }
    return key;
}

std::string jsonString(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                out += escape;
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
    return out;
}

std::string hexBytes(const void* data, std::size_t size)
{
    static const char* const digits = "0123456789abcdef";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0xF]);
    }
    return out;
}

} // namespace quillon::advapi32

#include <unistd.h>

namespace quillon::advapi32 {
bool isLocalMachine(LPCWSTR machineName)
{
    std::string name = toUtf8(machineName);
    if (name.rfind("\\\\", 0) == 0)
        name.erase(0, 2);
    if (name.empty() || name == "." || sameName(name, "localhost"))
        return true;
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return false;
    const std::string hostName = host;
    return sameName(name, hostName) || sameName(name, hostName.substr(0, hostName.find('.')));
}
} // namespace quillon::advapi32
