// Plain types, enumerations and records of the media-pipeline framework, with
// the widths and layouts of the platform they stand in for. Times are REFERENCE_TIME:
// signed 64-bit counts of 100-ns units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"
#include "platform/com/WinTypes.h"

class QObject;
class CAMEvent;
struct IUnknown;
struct IBaseFilter;
struct IFilterGraph;

using REFERENCE_TIME = std::int64_t; // 100-ns units
using REFTIME = double;              // seconds (IMediaPosition)
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using LPCWSTR = const WCHAR*;
using LPWSTR = WCHAR*;
using LPCOLESTR = const WCHAR*;
using LPOLESTR = WCHAR*;
using BSTR = WCHAR*;
using LCID = DWORD;
using OAFilterState = LONG;
// Event handle of IMediaEvent::GetEventHandle: the address of a CAMEvent (manual
// reset) that is set while events are queued.
using OAEVENT = LONG_PTR;
// A "window" that receives graph notifications: a Qt object whose thread runs an
// event loop (see NotifyWindow.h). Null means none.
using OAHWND = QObject*;
// Handles given to IReferenceClock::AdviseTime / AdvisePeriodic: events of ours.
using HEVENT = CAMEvent*;
using HSEMAPHORE = CAMEvent*;

constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Reference-time helpers.
constexpr REFERENCE_TIME UNITS = 10000000;   // 100-ns units per second
constexpr REFERENCE_TIME MILLISECONDS = 10000; // 100-ns units per millisecond
constexpr REFERENCE_TIME MAX_TIME = INT64_MAX;

enum FILTER_STATE : LONG { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION : LONG { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

// Window message base; graph notifications are usually WM_USER + n.
#ifndef WM_USER
constexpr LONG WM_USER = 0x0400;
#endif

constexpr int MAX_PIN_NAME = 128;
constexpr int MAX_FILTER_NAME = 128;

struct PIN_INFO {
    IBaseFilter* pFilter; // added reference; the caller releases it
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph; // added reference (or null); the caller releases it
};

// The platform media type. pbFormat is allocated with CoTaskMemAlloc and owned by
// the record: free it with FreeMediaType, or the whole record with DeleteMediaType.
struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};
static_assert(sizeof(AM_MEDIA_TYPE) == 88);
static_assert(offsetof(AM_MEDIA_TYPE, formattype) == 44);
static_assert(offsetof(AM_MEDIA_TYPE, pUnk) == 64);
static_assert(offsetof(AM_MEDIA_TYPE, cbFormat) == 72);
static_assert(offsetof(AM_MEDIA_TYPE, pbFormat) == 80);

// Buffer requirements negotiated between an output pin and an allocator.
struct ALLOCATOR_PROPERTIES {
    LONG cBuffers; // number of buffers
    LONG cbBuffer; // bytes per buffer (without prefix)
    LONG cbAlign;  // alignment of each buffer (1 = none)
    LONG cbPrefix; // bytes reserved before each buffer
};
static_assert(sizeof(ALLOCATOR_PROPERTIES) == 16);

// IMemAllocator::GetBuffer flags.
constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
constexpr DWORD AM_GBF_NOWAIT = 4;

// IMediaSeeking capabilities and positioning flags.
enum AM_SEEKING_SEEKING_CAPABILITIES : DWORD {
    AM_SEEKING_CanSeekAbsolute = 0x1,
    AM_SEEKING_CanSeekForwards = 0x2,
    AM_SEEKING_CanSeekBackwards = 0x4,
    AM_SEEKING_CanGetCurrentPos = 0x8,
    AM_SEEKING_CanGetStopPos = 0x10,
    AM_SEEKING_CanGetDuration = 0x20,
    AM_SEEKING_CanPlayBackwards = 0x40,
    AM_SEEKING_CanDoSegments = 0x80,
    AM_SEEKING_Source = 0x100,
};
enum AM_SEEKING_SEEKING_FLAGS : DWORD {
    AM_SEEKING_NoPositioning = 0x0,
    AM_SEEKING_AbsolutePositioning = 0x1,
    AM_SEEKING_RelativePositioning = 0x2,
    AM_SEEKING_IncrementalPositioning = 0x3,
    AM_SEEKING_PositioningBitsMask = 0x3,
    AM_SEEKING_SeekToKeyFrame = 0x4,
    AM_SEEKING_ReturnTime = 0x8,
    AM_SEEKING_Segment = 0x10,
    AM_SEEKING_NoFlush = 0x20,
};

// IAMStreamSelect flags.
constexpr DWORD AMSTREAMSELECTINFO_ENABLED = 0x1;
constexpr DWORD AMSTREAMSELECTINFO_EXCLUSIVE = 0x2;
constexpr DWORD AMSTREAMSELECTENABLE_ENABLE = 0x1;
constexpr DWORD AMSTREAMSELECTENABLE_ENABLEALL = 0x2;

// Quality messages (IQualityControl).
enum QualityMessageType : LONG { Famine = 0, Flood = 1 };
struct Quality {
    QualityMessageType Type;
    LONG Proportion; // 1000 = all is well
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

// Class contexts of CoCreateInstance (accepted and ignored).
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_INPROC = 0x3;

// Thread priorities for CAMThread (a hint on this platform).
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;

// Filter merits used by the component registry (higher is tried first).
constexpr DWORD MERIT_PREFERRED = 0x800000;
constexpr DWORD MERIT_NORMAL = 0x600000;
constexpr DWORD MERIT_UNLIKELY = 0x400000;
constexpr DWORD MERIT_DO_NOT_USE = 0x200000;
