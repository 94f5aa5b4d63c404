#include "process_defaults.h"

#include <cerrno>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
constexpr pid_t kInit = 1;
}

ProcessDefaults systemProcessDefaults()
{
    ProcessDefaults defaults;
    defaults.haveLimits = true;
    for (int resource = 0; resource < RLIMIT_NLIMITS; ++resource) {
        if (::prlimit(kInit, static_cast<__rlimit_resource>(resource), nullptr, &defaults.limits[resource]) != 0) {
            defaults.haveLimits = false;
            break;
        }
    }
    errno = 0;
    const int niceness = ::getpriority(PRIO_PROCESS, kInit);
    if (errno == 0) {
        defaults.haveNiceness = true;
        defaults.niceness = niceness;
    }
    return defaults;
}

void applyProcessDefaults(const ProcessDefaults& defaults) noexcept
{
    if (defaults.haveLimits) {
        for (int resource = 0; resource < RLIMIT_NLIMITS; ++resource) {
            const auto which = static_cast<__rlimit_resource>(resource);
            const rlimit& wanted = defaults.limits[resource];
            if (::setrlimit(which, &wanted) == 0)
                continue;
            // Without CAP_SYS_RESOURCE (root in most containers) a hard
            // limit cannot be raised: as close to init's as allowed.
            rlimit current {};
            if (::getrlimit(which, &current) != 0)
                continue;
            const rlim_t hard = wanted.rlim_max < current.rlim_max ? wanted.rlim_max : current.rlim_max;
            const rlimit clamped {wanted.rlim_cur < hard ? wanted.rlim_cur : hard, hard};
            ::setrlimit(which, &clamped);
        }
    }
    if (defaults.haveNiceness)
        ::setpriority(PRIO_PROCESS, 0, defaults.niceness);
}

} // namespace quillon::advapi32
