// COM, BSTR, VARIANT and the WMI interfaces the machine identity uses, as our
// Linux layer provides them (platform/linux/com). Only the methods the
// identity sources call are declared; their signatures are those of Windows.
#pragma once

#include "platform/win32_base.h"

using HRESULT = LONG;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using LONGLONG = std::int64_t;
using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using BSTR = OLECHAR*;
using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using CIMTYPE = LONG;
using RPC_AUTH_IDENTITY_HANDLE = void*;
using PSECURITY_DESCRIPTOR = void*;

#define STDMETHODCALLTYPE
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// Result codes.
#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_NOTIMPL static_cast<HRESULT>(0x80004001UL)
#define E_NOINTERFACE static_cast<HRESULT>(0x80004002UL)
#define E_POINTER static_cast<HRESULT>(0x80004003UL)
#define E_FAIL static_cast<HRESULT>(0x80004005UL)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000EUL)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057UL)
#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110UL)
#define REGDB_E_CLASSNOTREG static_cast<HRESULT>(0x80040154UL)
#define CO_E_NOTINITIALIZED static_cast<HRESULT>(0x800401F0UL)
#define RPC_E_CHANGED_MODE static_cast<HRESULT>(0x80010106UL)
#define RPC_E_TOO_LATE static_cast<HRESULT>(0x80010119UL)
#define DISP_E_TYPEMISMATCH static_cast<HRESULT>(0x80020005UL)
#define WBEM_S_NO_ERROR static_cast<HRESULT>(0)
#define WBEM_S_FALSE static_cast<HRESULT>(1)
#define WBEM_E_FAILED static_cast<HRESULT>(0x80041001UL)
#define WBEM_E_NOT_FOUND static_cast<HRESULT>(0x80041002UL)
#define WBEM_E_INVALID_PARAMETER static_cast<HRESULT>(0x80041008UL)
#define WBEM_E_INVALID_NAMESPACE static_cast<HRESULT>(0x8004100EUL)
#define WBEM_E_INVALID_QUERY static_cast<HRESULT>(0x80041017UL)
#define WBEM_E_INVALID_QUERY_TYPE static_cast<HRESULT>(0x80041018UL)

// COM initialisation and security.
#define COINIT_MULTITHREADED 0x0UL
#define COINIT_APARTMENTTHREADED 0x2UL
#define CLSCTX_INPROC_SERVER 0x1UL
#define RPC_C_AUTHN_LEVEL_DEFAULT 0UL
#define RPC_C_AUTHN_LEVEL_CALL 3UL
#define RPC_C_IMP_LEVEL_IMPERSONATE 3UL
#define RPC_C_AUTHN_WINNT 10UL
#define RPC_C_AUTHZ_NONE 0UL
#define EOAC_NONE 0UL

// WMI.
#define WBEM_FLAG_RETURN_IMMEDIATELY 0x10L
#define WBEM_FLAG_FORWARD_ONLY 0x20L
#define WBEM_INFINITE (-1L) // 0xFFFFFFFF as a 32-bit long
#define CIM_EMPTY 0L
#define CIM_SINT32 3L
#define CIM_STRING 8L
#define CIM_BOOLEAN 11L
#define CIM_OBJECT 13L
#define CIM_UINT32 19L

// VARIANT types.
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
};
#define VARIANT_TRUE static_cast<VARIANT_BOOL>(-1)
#define VARIANT_FALSE static_cast<VARIANT_BOOL>(0)

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
        IUnknown* punkVal;
        char cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        int intVal;
        unsigned int uintVal;
    };
};
using VARIANTARG = VARIANT;

struct IWbemContext;
struct IWbemClassObject;
struct IEnumWbemClassObject;
struct IWbemServices;

struct IWbemClassObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, long lFlags, VARIANT* pVal, CIMTYPE* pType,
                                         long* plFlavor) = 0;

protected:
    ~IWbemClassObject() = default;
};

struct IEnumWbemClassObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(long lTimeout, ULONG uCount, IWbemClassObject** apObjects,
                                          ULONG* puReturned) = 0;

protected:
    ~IEnumWbemClassObject() = default;
};

struct IWbemServices : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, long lFlags,
                                               IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) = 0;

protected:
    ~IWbemServices() = default;
};

struct IWbemLocator : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR strUser,
                                                   const BSTR strPassword, const BSTR strLocale,
                                                   long lSecurityFlags, const BSTR strAuthority,
                                                   IWbemContext* pCtx, IWbemServices** ppNamespace) = 0;

protected:
    ~IWbemLocator() = default;
};

extern "C" {
extern const CLSID CLSID_WbemLocator;
extern const IID IID_IUnknown;
extern const IID IID_IWbemLocator;
extern const IID IID_IWbemServices;
extern const IID IID_IEnumWbemClassObject;
extern const IID IID_IWbemClassObject;

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc, void* asAuthSvc, void* pReserved1,
                             DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList, DWORD dwCapabilities,
                             void* pReserved3);
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
HRESULT CoSetProxyBlanket(IUnknown* pProxy, DWORD dwAuthnSvc, DWORD dwAuthzSvc, OLECHAR* pServerPrincName,
                          DWORD dwAuthnLevel, DWORD dwImpLevel, RPC_AUTH_IDENTITY_HANDLE pAuthInfo,
                          DWORD dwCapabilities);

BSTR SysAllocString(const OLECHAR* psz);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);
void VariantInit(VARIANTARG* pvarg);
HRESULT VariantClear(VARIANTARG* pvarg);
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt);
}
