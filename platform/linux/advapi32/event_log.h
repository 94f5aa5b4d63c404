// Where the event log of a source is kept (also read by the tests).
#pragma once

#include <string>

namespace quillon::advapi32 {

// <state directory>/eventlog/<source key>.jsonl; empty when the state
// directory cannot be made.
std::string eventLogPath(const std::string& source);

} // namespace quillon::advapi32
