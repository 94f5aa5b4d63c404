// COM initialisation, security and object creation. There is no COM runtime
// to set up on Linux: joining an apartment is bookkeeping per thread (so that
// a thread in one apartment model is refused the other, as on Windows) and
// security is accepted as it comes. What Windows would ask the system comes
// from the backend (com_backend.h).
#include "com_backend.h"
#include "wmi_objects.h"

namespace {

// This thread's apartment: how often it joined, and in which model.
thread_local int apartmentJoins = 0;
thread_local DWORD apartmentModel = COINIT_MULTITHREADED;

constexpr DWORD kApartmentModelBits = COINIT_APARTMENTTHREADED;

} // namespace

extern "C" {

const CLSID CLSID_WbemLocator = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID IID_IWbemServices = {0x9556DC99, 0x828C, 0x11CF, {0xA3, 0x7E, 0x00, 0xAA, 0x00, 0x32, 0x40, 0xC7}};
const IID IID_IEnumWbemClassObject = {0x027947E1, 0xD731, 0x11CE, {0xA3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const IID IID_IWbemClassObject = {0xDC12A681, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

HRESULT CoInitializeEx(LPVOID, DWORD coInit)
{
    if (const HRESULT failure = quillon::linux_com::comBackend()->apartmentJoinFailure(); FAILED(failure)) {
        return failure;
    }
    const DWORD model = coInit & kApartmentModelBits;
    if (apartmentJoins > 0 && model != apartmentModel) {
        return RPC_E_CHANGED_MODE;
    }
    apartmentModel = model;
    return ++apartmentJoins == 1 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    quillon::linux_com::comBackend()->uninitializeCalled();
    if (apartmentJoins > 0) {
        --apartmentJoins;
    }
}

HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*)
{
    return quillon::linux_com::comBackend()->securityResult();
}

HRESULT CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId, LPVOID* object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (quillon::linux_com::apartmentJoinsOfThisThread() == 0) {
        return CO_E_NOTINITIALIZED;
    }
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    if (!(classId == CLSID_WbemLocator) || (context & CLSCTX_INPROC_SERVER) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    auto backend = quillon::linux_com::comBackend();
    if (const HRESULT failure = backend->locatorFailure(); FAILED(failure)) {
        return failure;
    }
    IWbemLocator* locator = quillon::linux_com::createWbemLocator(std::move(backend));
    if (locator == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT result = locator->QueryInterface(interfaceId, object);
    locator->Release();
    return result;
}

HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD, DWORD, OLECHAR*, DWORD, DWORD, RPC_AUTH_IDENTITY_HANDLE, DWORD)
{
    if (proxy == nullptr) {
        return E_INVALIDARG;
    }
    return quillon::linux_com::proxyBlanketResult(proxy);
}

} // extern "C"

namespace quillon::linux_com {

int apartmentJoinsOfThisThread() noexcept
{
    return apartmentJoins;
}

} // namespace quillon::linux_com
