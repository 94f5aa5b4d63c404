#include "wmi_steps.h"

#include "wide_text.h"

namespace quillon::identity {

ComRef<IWbemServices> connectCimv2()
{
    ComRef<IWbemLocator> locator;
    throwIfFailed(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                   locator.putVoid()));

    const WideText cimv2 = widenAscii("ROOT\\CIMV2");
    const BStr nameSpace(cimv2.c_str());
    ComRef<IWbemServices> services;
    throwIfFailed(locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                         services.put()));

    throwIfFailed(CoSetProxyBlanket(&*services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                    RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE));
    return services;
}

std::string queryLastValue(IWbemServices& services, const std::string& query, const std::string& property)
{
    const BStr language = BStr::fromNarrow("WQL");
    const BStr queryText = BStr::fromNarrow(query);
    ComRef<IEnumWbemClassObject> rows;
    throwIfFailed(services.ExecQuery(language.get(), queryText.get(),
                                     WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, rows.put()));

    std::string kept;
    for (;;) {
        ComRef<IWbemClassObject> row;
        ULONG returned = 0;
        throwIfFailed(rows->Next(static_cast<long>(WBEM_INFINITE), 1, row.put(), &returned));
        if (returned == 0) {
            break;
        }
        kept = readWmiProperty(*row, property); // the last row wins, also when empty
    }
    return kept;
}

std::string readWmiProperty(IWbemClassObject& row, const std::string& property)
{
    const WideText name = widenAscii(property);
    Variant value;
    CIMTYPE type = 0;
    throwIfFailed(row.Get(name.c_str(), 0, value.get(), &type, nullptr));
    if (value.value().vt == VT_NULL) {
        return {};
    }

    Variant converted;
    const VARIANT* text = &value.value();
    if (text->vt != VT_BSTR) {
        if (FAILED(VariantChangeType(converted.get(), value.get(), 0, VT_BSTR)) ||
            converted.value().vt != VT_BSTR) {
            return {}; // this row only; not a failure of the source
        }
        text = &converted.value();
    }
    std::string narrow;
    if (const BSTR wide = text->bstrVal) {
        for (const OLECHAR* unit = wide; *unit != 0; ++unit) {
            narrow.push_back(static_cast<char>(static_cast<unsigned>(*unit) & 0xFFu));
        }
    }
    return narrow;
}

} // namespace quillon::identity
