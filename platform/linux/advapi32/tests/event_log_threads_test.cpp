#include "test_support.h"

#include <thread>

using namespace quillon::advapi32::test;

namespace {

using EventLogThreads = StateDirTest;

TEST_F(EventLogThreads, ThreadsLogThroughOwnAndSharedHandles)
{
    constexpr int kThreads = 4;
    constexpr int kEntries = 100;
    HANDLE shared = RegisterEventSourceW(nullptr, u"Quillon");
    ASSERT_NE(shared, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, shared] {
            for (int i = 0; i < kEntries; ++i) {
                HANDLE own = RegisterEventSourceW(nullptr, u"Quillon");
                const std::u16string text = wide("t" + std::to_string(t) + " " + std::to_string(i));
                LPCWSTR strings[] = {text.c_str()};
                ReportEventW(i % 2 == 0 ? own : shared, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0,
                             strings, nullptr);
                DeregisterEventSource(own);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_TRUE(DeregisterEventSource(shared));
    const auto entries = readEventLog(stateDir + "/eventlog/quillon.jsonl");
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kEntries));
    std::map<std::string, int> next;
    for (const auto& e : entries) {
        const std::string& text = e.text.at("text");
        const std::string thread = text.substr(0, text.find(' '));
        EXPECT_EQ(text, thread + " " + std::to_string(next[thread]++));
    }
}

} // namespace
