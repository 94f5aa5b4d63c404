#include "wmi_objects.h"

#include "wmi_query.h"

#include <atomic>
#include <new>
#include <utility>

namespace quillon::linux_com {

namespace {

// Reference counting and QueryInterface for one interface (and IUnknown).
template <typename Interface>
class ComObject : public Interface {
public:
    explicit ComObject(const IID& interfaceId) : interfaceId_(interfaceId) {}
    virtual ~ComObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (riid == interfaceId_ || riid == IID_IUnknown) {
            AddRef();
            *object = static_cast<Interface*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

private:
    const IID& interfaceId_;
    std::atomic<ULONG> references_{1};
};

std::u16string textOf(const OLECHAR* text)
{
    return text != nullptr ? std::u16string(text) : std::u16string();
}

BSTR bstrOf(const std::u16string& text)
{
    return SysAllocString(text.c_str());
}

class ClassObject final : public ComObject<IWbemClassObject> {
public:
    explicit ClassObject(WmiRow row) : ComObject(IID_IWbemClassObject), row_(std::move(row)) {}

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, long, VARIANT* value, CIMTYPE* type, long* flavor) override
    {
        if (name == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        const WmiValue* found = row_.find(name);
        if (found == nullptr) {
            return WBEM_E_NOT_FOUND;
        }
        if (found->kind == WmiValue::Kind::GetFails) {
            return WBEM_E_FAILED;
        }
        if (flavor != nullptr) {
            *flavor = 0;
        }
        if (value == nullptr) {
            return S_OK;
        }
        VariantInit(value);
        CIMTYPE cimType = CIM_STRING;
        switch (found->kind) {
        case WmiValue::Kind::Null:
            value->vt = VT_NULL;
            break;
        case WmiValue::Kind::Text:
            value->bstrVal = bstrOf(found->text);
            if (value->bstrVal == nullptr) {
                return E_OUTOFMEMORY;
            }
            value->vt = VT_BSTR;
            break;
        case WmiValue::Kind::Number:
            value->vt = VT_I4;
            value->lVal = found->number;
            cimType = CIM_UINT32;
            break;
        case WmiValue::Kind::Boolean:
            value->vt = VT_BOOL;
            value->boolVal = found->boolean ? VARIANT_TRUE : VARIANT_FALSE;
            cimType = CIM_BOOLEAN;
            break;
        case WmiValue::Kind::Object:
            value->vt = VT_UNKNOWN;
            value->punkVal = nullptr;
            cimType = CIM_OBJECT;
            break;
        case WmiValue::Kind::GetFails:
            break;
        }
        if (type != nullptr) {
            *type = cimType;
        }
        return S_OK;
    }

private:
    WmiRow row_;
};

class RowEnumerator final : public ComObject<IEnumWbemClassObject> {
public:
    explicit RowEnumerator(std::vector<WmiRow> rows) : ComObject(IID_IEnumWbemClassObject), rows_(std::move(rows)) {}

    HRESULT STDMETHODCALLTYPE Next(long, ULONG count, IWbemClassObject** objects, ULONG* returned) override
    {
        if (objects == nullptr || returned == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *returned = 0;
        while (*returned < count && next_ < rows_.size()) {
            if (rows_[next_].nextFails) {
                ++next_;
                return WBEM_E_FAILED;
            }
            auto* object = new (std::nothrow) ClassObject(rows_[next_]);
            if (object == nullptr) {
                return E_OUTOFMEMORY;
            }
            objects[(*returned)++] = object;
            ++next_;
        }
        return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

private:
    std::vector<WmiRow> rows_;
    std::size_t next_ = 0;
};

class Services final : public ComObject<IWbemServices> {
public:
    explicit Services(std::shared_ptr<const ComBackend> backend)
        : ComObject(IID_IWbemServices), backend_(std::move(backend))
    {
    }

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, long, IWbemContext*,
                                       IEnumWbemClassObject** rows) override
    {
        if (rows == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *rows = nullptr;
        const std::u16string text = textOf(query);
        if (const HRESULT failure = backend_->queryFailure(text); FAILED(failure)) {
            return failure;
        }
        if (!equalIgnoringAsciiCase(textOf(language), u"WQL")) {
            return WBEM_E_INVALID_QUERY_TYPE;
        }
        const auto parsed = parseWmiQuery(text);
        if (!parsed) {
            return WBEM_E_INVALID_QUERY;
        }
        std::vector<WmiRow> answer;
        try {
            answer = answerWmiQuery(*parsed, backend_->tablesFor(*parsed));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        auto* enumerator = new (std::nothrow) RowEnumerator(std::move(answer));
        if (enumerator == nullptr) {
            return E_OUTOFMEMORY;
        }
        *rows = enumerator;
        return WBEM_S_NO_ERROR;
    }

    HRESULT blanketResult() const { return backend_->proxyBlanketResult(); }

private:
    std::shared_ptr<const ComBackend> backend_;
};

class Locator final : public ComObject<IWbemLocator> {
public:
    explicit Locator(std::shared_ptr<const ComBackend> backend)
        : ComObject(IID_IWbemLocator), backend_(std::move(backend))
    {
    }

    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR, const BSTR, const BSTR, long,
                                           const BSTR, IWbemContext*, IWbemServices** services) override
    {
        if (services == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *services = nullptr;
        if (const HRESULT failure = backend_->connectFailure(); FAILED(failure)) {
            return failure;
        }
        if (!equalIgnoringAsciiCase(textOf(resource), u"ROOT\\CIMV2")) {
            return WBEM_E_INVALID_NAMESPACE;
        }
        auto* connected = new (std::nothrow) Services(backend_);
        if (connected == nullptr) {
            return E_OUTOFMEMORY;
        }
        *services = connected;
        return WBEM_S_NO_ERROR;
    }

private:
    std::shared_ptr<const ComBackend> backend_;
};

} // namespace

IWbemLocator* createWbemLocator(std::shared_ptr<const ComBackend> backend)
{
    return new (std::nothrow) Locator(std::move(backend));
}

HRESULT proxyBlanketResult(IUnknown* proxy)
{
    if (const auto* services = dynamic_cast<const Services*>(proxy)) {
        return services->blanketResult();
    }
    return E_INVALIDARG;
}

} // namespace quillon::linux_com
