#include "platform/dshow/NotifyWindow.h"

#include <QCoreApplication>

#include "platform/dshow/GraphNotifyEvent.h"

GraphNotifyEvent::GraphNotifyEvent(LONG message, LONG_PTR instanceData)
    : QEvent(TypeFor(message)), message_(message), instanceData_(instanceData) {}

QEvent::Type GraphNotifyEvent::TypeFor(LONG message) {
    LONG offset = message - WM_USER;
    if (offset >= 0 && offset <= QEvent::MaxUser - QEvent::User)
        return QEvent::Type(QEvent::User + offset);
    static const QEvent::Type other = QEvent::Type(QEvent::registerEventType());
    return other;
}

void PostGraphNotify(QObject* window, LONG message, LONG_PTR instanceData) {
    if (!window) return;
    QCoreApplication::postEvent(window, new GraphNotifyEvent(message, instanceData));
}
