// The queued event a graph posts to its notify window (see NotifyWindow.h).
// Its type is QEvent::User + (message - WM_USER) for messages from WM_USER up
// (WM_USER + 20 arrives as QEvent::User + 20); other message numbers use one
// registered type. A receiver checks the type (or dynamic_casts) in event() and
// then drains IMediaEvent::GetEvent until it returns E_ABORT.
#pragma once

#include <QEvent>

#include "platform/dshow/DshowTypes.h"

class GraphNotifyEvent : public QEvent {
public:
    GraphNotifyEvent(LONG message, LONG_PTR instanceData);
    // The event type used for a message number.
    static QEvent::Type TypeFor(LONG message);

    LONG message() const { return message_; }
    LONG_PTR instanceData() const { return instanceData_; }

private:
    LONG message_;
    LONG_PTR instanceData_;
};
