// The WQL the identity sources send, and its answer from a set of tables.
#pragma once

#include "wmi_tables.h"

#include <optional>
#include <string>
#include <vector>

namespace quillon::linux_com {

struct WmiQuery {
    enum class Source { ComputerSystemProduct, BootDiskPartition, DiskDriveWithIndex };
    Source source = Source::ComputerSystemProduct;
    std::u16string property;       // the one property selected
    std::int64_t driveIndex = 0;   // for DiskDriveWithIndex
};

// Only the exact forms the sources send (platform/wmi_queries.h) are understood (keywords, class and
// property names in any case); anything else is an invalid query.
std::optional<WmiQuery> parseWmiQuery(const std::u16string& text);

// The rows of the query, each holding just the selected property.
std::vector<WmiRow> answerWmiQuery(const WmiQuery& query, const WmiTables& tables);

// The machine's tables that the query needs (see machine_tables.cpp).
WmiTables readMachineTablesFor(const WmiQuery& query);

bool equalIgnoringAsciiCase(const std::u16string& a, const std::u16string& b);

} // namespace quillon::linux_com
