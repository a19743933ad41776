// Registration of the decoder and renderer components in the component
// registry, so that graphs create them by class identifier (CoCreateInstance)
// and intelligent connect / Render can pick them. Call once at start-up (any
// thread; calling again replaces the same entries).
#pragma once

#include "platform/com/HResult.h"

HRESULT RegisterMediaComponents();
