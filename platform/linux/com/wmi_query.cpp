#include "wmi_query.h"

#include "platform/wmi_queries.h"

namespace quillon::linux_com {

namespace {

// The query texts are ASCII.
std::u16string widened(const char* ascii)
{
    return std::u16string(ascii, ascii + std::char_traits<char>::length(ascii));
}

char16_t foldAscii(char16_t unit)
{
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

bool startsWithIgnoringAsciiCase(const std::u16string& text, const std::u16string& prefix)
{
    return text.size() >= prefix.size() && equalIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

// A WQL number as the sources write it: decimal digits only, short enough
// for any disk index.
std::optional<std::int64_t> parseIndex(const std::u16string& digits)
{
    if (digits.empty() || digits.size() > 10) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char16_t unit : digits) {
        if (unit < u'0' || unit > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (unit - u'0');
    }
    return value;
}

WmiRow projected(const WmiRow& row, const std::u16string& property)
{
    const WmiValue* value = row.find(property);
    return WmiRow{{{property, value != nullptr ? *value : WmiValue::null()}}, row.nextFails};
}

bool holds(const WmiRow& row, const std::u16string& property, const WmiValue& wanted)
{
    const WmiValue* value = row.find(property);
    if (value == nullptr || value->kind != wanted.kind) {
        return false;
    }
    return wanted.kind == WmiValue::Kind::Boolean ? value->boolean == wanted.boolean
                                                  : value->number == wanted.number;
}

} // namespace

bool equalIgnoringAsciiCase(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

const WmiValue* WmiRow::find(const std::u16string& name) const
{
    for (const auto& [propertyName, value] : properties) {
        if (equalIgnoringAsciiCase(propertyName, name)) {
            return &value;
        }
    }
    return nullptr;
}

std::optional<WmiQuery> parseWmiQuery(const std::u16string& text)
{
    namespace wmi = platform::wmi;
    static const std::u16string kSystemUuid = widened(wmi::kSystemUuidQuery);
    static const std::u16string kBootPartition = widened(wmi::kBootPartitionQuery);
    static const std::u16string kDriveByIndex = widened(wmi::kDriveSerialQueryPrefix);

    if (equalIgnoringAsciiCase(text, kSystemUuid)) {
        return WmiQuery{WmiQuery::Source::ComputerSystemProduct, widened(wmi::kSystemUuidProperty), 0};
    }
    if (equalIgnoringAsciiCase(text, kBootPartition)) {
        return WmiQuery{WmiQuery::Source::BootDiskPartition, widened(wmi::kBootPartitionProperty), 0};
    }
    if (startsWithIgnoringAsciiCase(text, kDriveByIndex)) {
        if (const auto index = parseIndex(text.substr(kDriveByIndex.size()))) {
            return WmiQuery{WmiQuery::Source::DiskDriveWithIndex, widened(wmi::kDriveSerialProperty), *index};
        }
    }
    return std::nullopt;
}

std::vector<WmiRow> answerWmiQuery(const WmiQuery& query, const WmiTables& tables)
{
    std::vector<WmiRow> rows;
    switch (query.source) {
    case WmiQuery::Source::ComputerSystemProduct:
        for (const WmiRow& row : tables.computerSystemProducts) {
            rows.push_back(projected(row, query.property));
        }
        break;
    case WmiQuery::Source::BootDiskPartition:
        for (const WmiRow& row : tables.diskPartitions) {
            if (holds(row, u"BootPartition", WmiValue::ofBoolean(true))) {
                rows.push_back(projected(row, query.property));
            }
        }
        break;
    case WmiQuery::Source::DiskDriveWithIndex:
        if (query.driveIndex <= INT32_MAX) {
            const auto index = static_cast<std::int32_t>(query.driveIndex);
            for (const WmiRow& row : tables.diskDrives) {
                if (holds(row, u"Index", WmiValue::ofNumber(index))) {
                    rows.push_back(projected(row, query.property));
                }
            }
        }
        break;
    }
    return rows;
}

} // namespace quillon::linux_com
