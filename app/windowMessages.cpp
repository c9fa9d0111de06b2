#include "windowMessages.h"

#ifdef _WIN32

void serveWindowMessages(QObject*) {}

#else

#include "rkhost.h"

#include <QSocketNotifier>

void serveWindowMessages(QObject* owner)
{
    const int descriptor = rkMessageEventFd();
    if (descriptor < 0)
        return;
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, [] { rkDispatchPendingMessages(); });
}

#endif
