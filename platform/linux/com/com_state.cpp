#include "com_state.h"

#include <mutex>

namespace quillon::linux_com {

namespace {
std::mutex stateMutex;
std::optional<HRESULT> coInitializeExResult;
std::optional<HRESULT> coInitializeSecurityResult;
std::shared_ptr<const testing::WmiFixture> wmiFixture;
std::vector<std::string> queries;
} // namespace

std::optional<HRESULT> forcedCoInitializeExResult()
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    return coInitializeExResult;
}

std::optional<HRESULT> forcedCoInitializeSecurityResult()
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    return coInitializeSecurityResult;
}

std::shared_ptr<const testing::WmiFixture> currentWmiFixture()
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    return wmiFixture;
}

void noteExecutedQuery(const std::string& query)
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    queries.push_back(query);
}

namespace testing {

void forceCoInitializeExResult(std::optional<HRESULT> result)
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    coInitializeExResult = result;
}

void forceCoInitializeSecurityResult(std::optional<HRESULT> result)
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    coInitializeSecurityResult = result;
}

void setWmiFixture(std::optional<WmiFixture> fixture)
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    wmiFixture = fixture ? std::make_shared<const WmiFixture>(std::move(*fixture)) : nullptr;
}

std::vector<std::string> executedQueries()
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    return queries;
}

void clearExecutedQueries()
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    queries.clear();
}

} // namespace testing
} // namespace quillon::linux_com
