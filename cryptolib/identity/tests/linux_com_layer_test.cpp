// The Linux COM layer itself, where it must behave as Windows does for the
// sources: apartments, BSTR and VARIANT conversion, and the queries it
// accepts.
#include "seams.h"
#include "wmi_steps.h"

namespace quillon::identity::testing {
namespace {

TEST(LinuxComLayer, ApartmentsNestAndRefuseTheOtherModel)
{
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(linux_com::testing::apartmentDepth(), 0);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
}

TEST(LinuxComLayer, VariantChangeTypeToText)
{
    const struct {
        VARTYPE type;
        LONGLONG value;
        const char16_t* expected; // null: the conversion fails
    } cases[] = {
        {VT_I4, -42, u"-42"},   {VT_UI1, 200, u"200"}, {VT_I2, -7, u"-7"},
        {VT_UI8, 123456789012345LL, u"123456789012345"}, {VT_BOOL, 0, u"0"},
        {VT_EMPTY, 0, u""},     {VT_NULL, 0, nullptr}, {VT_UNKNOWN, 0, nullptr},
    };
    for (const auto& c : cases) {
        Variant source;
        source.get()->vt = c.type;
        source.get()->llVal = c.value;
        Variant converted;
        const HRESULT result = VariantChangeType(converted.get(), source.get(), 0, VT_BSTR);
        if (c.expected == nullptr) {
            EXPECT_EQ(result, DISP_E_TYPEMISMATCH) << c.type;
            continue;
        }
        ASSERT_EQ(result, S_OK) << c.type;
        ASSERT_EQ(converted.value().vt, VT_BSTR);
        EXPECT_EQ(std::u16string(converted.value().bstrVal), c.expected);
        EXPECT_EQ(SysStringLen(converted.value().bstrVal), std::char_traits<char16_t>::length(c.expected));
    }
}

TEST(LinuxComLayer, OnlyTheSourcesQueriesAreUnderstood)
{
    linux_com::testing::WmiFixture fixture;
    fixture.tables.diskDrives = {drive(4, WmiValue::ofText(u"S4"))};
    linux_com::testing::setWmiFixture(fixture);
    const InComApartment apartment;
    ComRef<IWbemServices> services = connectCimv2();

    const struct {
        const char* query;
        HRESULT expected;
    } cases[] = {
        {"SELECT SerialNumber FROM win32_diskdrive where index=4", S_OK},
        {"select serialnumber from WIN32_DISKDRIVE WHERE INDEX=4", S_OK},
        {"SELECT SerialNumber FROM win32_diskdrive where index=", WBEM_E_INVALID_QUERY},
        {"SELECT SerialNumber FROM win32_diskdrive where index=4x", WBEM_E_INVALID_QUERY},
        {"SELECT SerialNumber FROM win32_diskdrive where index=-4", WBEM_E_INVALID_QUERY},
        {"SELECT SerialNumber FROM win32_diskdrive", WBEM_E_INVALID_QUERY},
        {"SELECT * FROM Win32_ComputerSystemProduct", WBEM_E_INVALID_QUERY},
        {"", WBEM_E_INVALID_QUERY},
    };
    for (const auto& c : cases) {
        HRESULT result = S_OK;
        try {
            EXPECT_EQ(queryLastValue(*services, c.query, "SerialNumber"), "S4") << c.query;
        } catch (const ComError& error) {
            result = error.result();
        }
        EXPECT_EQ(result, c.expected) << c.query;
    }

    ComRef<IEnumWbemClassObject> rows;
    const BStr language = BStr::fromNarrow("SQL");
    const BStr query = BStr::fromNarrow("SELECT UUID FROM Win32_ComputerSystemProduct");
    EXPECT_EQ(services->ExecQuery(language.get(), query.get(), 0, nullptr, rows.put()), WBEM_E_INVALID_QUERY_TYPE);
    linux_com::testing::setWmiFixture(std::nullopt);
}

TEST(LinuxComLayer, OnlyRootCimv2CanBeConnected)
{
    const InComApartment apartment;
    ComRef<IWbemLocator> locator;
    ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, locator.putVoid()),
              S_OK);
    const BStr other = BStr::fromNarrow("ROOT\\WMI");
    ComRef<IWbemServices> services;
    EXPECT_EQ(locator->ConnectServer(other.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.put()),
              WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(services.get(), nullptr);
}

} // namespace
} // namespace quillon::identity::testing
