// The bridge from graph events to a "window", which on this platform is a Qt
// object: PostGraphNotify posts a GraphNotifyEvent (GraphNotifyEvent.h) to it
// with QCoreApplication::postEvent, so it arrives as a queued event on the
// object's thread carrying the message number (e.g. WM_USER + 20) and the
// instance data given to SetNotifyWindow. Any thread. This header keeps Qt out
// of the callers.
#pragma once

#include "platform/dshow/DshowTypes.h"

// No-op for a null window.
void PostGraphNotify(QObject* window, LONG message, LONG_PTR instanceData);
