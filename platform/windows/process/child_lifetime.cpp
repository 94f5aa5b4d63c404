#include "platform/child_lifetime.h"

#include <QProcess>

#include <windows.h>

namespace quillon::platform {

// One job per binding: its only handle is ours, so when this process ends the
// system closes it and kills every process in the job.
ChildLifetimeBinding::ChildLifetimeBinding()
    : owner_(0)
{
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr)
        return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits)) {
        ::CloseHandle(job);
        return;
    }
    owner_ = reinterpret_cast<std::intptr_t>(job);
}

ChildLifetimeBinding::~ChildLifetimeBinding()
{
    if (owner_ != 0)
        ::CloseHandle(reinterpret_cast<HANDLE>(owner_));
}

void ChildLifetimeBinding::bindInChild() const noexcept
{
    // Windows creates no copy of us to act in; see bindStartedChild.
}

bool ChildLifetimeBinding::bindStartedChild(std::int64_t processId) noexcept
{
    if (owner_ == 0)
        return false;
    HANDLE child = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE,
                                 static_cast<DWORD>(processId));
    if (child == nullptr)
        return false;
    const BOOL assigned = ::AssignProcessToJobObject(reinterpret_cast<HANDLE>(owner_), child);
    ::CloseHandle(child);
    return assigned != FALSE;
}

void ChildLifetimeBinding::endChildTree(std::int64_t) noexcept
{
    // The job holds the child and what it started, and nothing else.
    if (owner_ != 0)
        ::TerminateJobObject(reinterpret_cast<HANDLE>(owner_), 1);
}

void keepConsoleSignalsFromChild(QProcess& process)
{
    // A console of its own, without a window: the child gets none of the
    // control events (Ctrl+C, Ctrl+Break, close) of ours.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* arguments) {
        arguments->flags |= CREATE_NEW_PROCESS_GROUP | CREATE_NO_WINDOW;
    });
}

} // namespace quillon::platform
