// BSTR and VARIANT. A BSTR points at its first code unit; the byte length
// sits in the four bytes before it and a zero code unit follows the text, as
// on Windows.
#include "platform/win32_com.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

BSTR allocateBstr(const OLECHAR* text, std::size_t length)
{
    const std::size_t bytes = length * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    const auto byteLength = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &byteLength, sizeof byteLength);
    auto* units = reinterpret_cast<BSTR>(block + sizeof(std::uint32_t));
    if (length > 0) {
        std::memcpy(units, text, bytes);
    }
    units[length] = 0;
    return units;
}

BSTR bstrOfAscii(const std::string& text)
{
    std::u16string wide(text.begin(), text.end());
    return allocateBstr(wide.data(), wide.size());
}

// The text VariantChangeType makes of a value, or nothing for a type that has
// no text form.
bool textOf(const VARIANT& value, std::string& text)
{
    switch (value.vt) {
    case VT_EMPTY: text.clear(); return true;
    case VT_I1: text = std::to_string(static_cast<int>(value.cVal)); return true;
    case VT_UI1: text = std::to_string(value.bVal); return true;
    case VT_I2: text = std::to_string(value.iVal); return true;
    case VT_UI2: text = std::to_string(value.uiVal); return true;
    case VT_I4: text = std::to_string(value.lVal); return true;
    case VT_UI4: text = std::to_string(value.ulVal); return true;
    case VT_INT: text = std::to_string(value.intVal); return true;
    case VT_UINT: text = std::to_string(value.uintVal); return true;
    case VT_I8: text = std::to_string(value.llVal); return true;
    case VT_UI8: text = std::to_string(value.ullVal); return true;
    case VT_BOOL: text = value.boolVal != 0 ? "-1" : "0"; return true;
    default: return false;
    }
}

} // namespace

extern "C" BSTR SysAllocString(const OLECHAR* text)
{
    if (text == nullptr) {
        return nullptr;
    }
    std::size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return allocateBstr(text, length);
}

extern "C" void SysFreeString(BSTR text)
{
    if (text != nullptr) {
        std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t));
    }
}

extern "C" UINT SysStringLen(BSTR text)
{
    if (text == nullptr) {
        return 0;
    }
    std::uint32_t byteLength = 0;
    std::memcpy(&byteLength, reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t), sizeof byteLength);
    return byteLength / sizeof(OLECHAR);
}

extern "C" void VariantInit(VARIANTARG* value)
{
    value->vt = VT_EMPTY;
    value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
    value->llVal = 0;
}

extern "C" HRESULT VariantClear(VARIANTARG* value)
{
    if (value == nullptr) {
        return E_INVALIDARG;
    }
    if (value->vt == VT_BSTR) {
        SysFreeString(value->bstrVal);
    } else if (value->vt == VT_UNKNOWN && value->punkVal != nullptr) {
        value->punkVal->Release();
    }
    VariantInit(value);
    return S_OK;
}

// Only conversions to VT_BSTR are offered: the one kind the system asks for.
extern "C" HRESULT VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT, VARTYPE type)
{
    if (destination == nullptr || source == nullptr) {
        return E_INVALIDARG;
    }
    if (type != VT_BSTR) {
        return DISP_E_TYPEMISMATCH;
    }
    BSTR converted = nullptr;
    if (source->vt == VT_BSTR) {
        converted = allocateBstr(source->bstrVal, SysStringLen(source->bstrVal));
    } else {
        std::string text;
        if (!textOf(*source, text)) {
            return DISP_E_TYPEMISMATCH;
        }
        converted = bstrOfAscii(text);
    }
    if (converted == nullptr) {
        return E_OUTOFMEMORY;
    }
    VariantClear(destination); // also when it is the source: its value was copied
    destination->vt = VT_BSTR;
    destination->bstrVal = converted;
    return S_OK;
}
