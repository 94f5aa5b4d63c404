// State shared by the COM layer's files: the forced results, the WMI fixture
// and the log of queries.
#pragma once

#include "platform/testing/com_seam.h"

#include <memory>

namespace quillon::linux_com {

std::optional<HRESULT> forcedCoInitializeExResult();
std::optional<HRESULT> forcedCoInitializeSecurityResult();

// The fixture in force (null: answer from the machine).
std::shared_ptr<const testing::WmiFixture> currentWmiFixture();
void noteExecutedQuery(const std::string& query);

} // namespace quillon::linux_com
