#include "serviceruntime_p.h"

#include "platform/win32_message.h"

// A user logging off sends WM_ENDSESSION with the log-off bit to every
// process of the session; a service must stay up, so the message is eaten
// here before the toolkit turns it into the end of the event loop.
bool QtServiceAppEventFilter::nativeEventFilter(const QByteArray&, void* message, long* result)
{
    const MSG* windowMessage = static_cast<const MSG*>(message);
    if (windowMessage->message == WM_ENDSESSION
        && (static_cast<unsigned long>(windowMessage->lParam) & ENDSESSION_LOGOFF) != 0) {
        if (result != nullptr)
            *result = 1;
        return true;
    }
    return false;
}

QtServiceAppEventFilter* QtServiceAppEventFilter::instance()
{
    static QtServiceAppEventFilter filter;
    return &filter;
}
