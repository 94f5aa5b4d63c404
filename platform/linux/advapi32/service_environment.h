// The environment a started service gets: like a Windows service, the
// system's, not its starter's. A fixed search path; the account's HOME, USER,
// LOGNAME and SHELL; the system locale; the layer's own two variables; what an
// administrator put in the service's entry. Nothing else of the process that
// called StartServiceW (a sanitizer build also passes the sanitizer's options,
// so that its reports of the service are not lost).
#pragma once

#include "accounts.h"
#include "locale_settings.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillon::advapi32 {

inline constexpr const char* kServicePath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// The system locale: from the first locale file there is, else LANG=C.UTF-8.
std::vector<std::string> systemLocale();

std::vector<std::string> serviceEnvironment(const Account& account, const std::string& stateDir,
                                            int channel, const std::vector<std::string>& configured);

} // namespace quillon::advapi32
