// The framework's interfaces, as abstract classes whose virtual methods keep the
// slot order of the platform they stand in for (after the three IUnknown slots). Each
// names its identifier as kIid.
//
// Conventions for every method below, unless it says otherwise:
// - Interface pointers returned through out parameters carry an added reference
//   that the caller releases; pointers passed in are borrowed.
// - AM_MEDIA_TYPE records returned through AM_MEDIA_TYPE** are task memory: free
//   them with DeleteMediaType. Strings returned through LPWSTR* are task memory:
//   free them with CoTaskMemFree.
// - Times are REFERENCE_TIME (100-ns units); timeouts are milliseconds
//   (INFINITE waits forever).
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/com/IUnknown.h"
#include "platform/dshow/DshowTypes.h"
#include "platform/dshow/MediaGuids.h"
#include "platform/dshow/VfwCodes.h"

struct IPin;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;
struct IMediaSample;
struct IMemAllocator;
struct IReferenceClock;
struct IFilterGraph;

struct IPersist : IUnknown {
    static constexpr const IID& kIid = IID_IPersist;
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;

protected:
    ~IPersist() = default;
};

// Automation base of IMediaControl, IMediaEvent and IMediaPosition. The slots are
// kept for layout; this platform answers them with E_NOTIMPL.
struct IDispatch : IUnknown {
    static constexpr const IID& kIid = IID_IDispatch;
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, void** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                  LONG* dispIds) = 0;
    virtual HRESULT Invoke(LONG dispId, REFIID riid, LCID lcid, WORD flags, void* params,
                           void* result, void* excepInfo, UINT* argErr) = 0;

protected:
    ~IDispatch() = default;
};

// A time source. GetTime is monotonic, 100-ns units. The advise calls signal
// the given CAMEvent when the clock reaches baseTime + streamTime (once), or every
// period from startTime on (AdvisePeriodic); Unadvise cancels by cookie.
struct IReferenceClock : IUnknown {
    static constexpr const IID& kIid = IID_IReferenceClock;
    virtual HRESULT GetTime(REFERENCE_TIME* pTime) = 0;
    virtual HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                               DWORD_PTR* pdwAdviseCookie) = 0;
    virtual HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                   HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) = 0;
    virtual HRESULT Unadvise(DWORD_PTR dwAdviseCookie) = 0;

protected:
    ~IReferenceClock() = default;
};

// State control of a filter. Stop/Pause/Run may return S_FALSE when the change
// completes later (GetState then answers VFW_S_STATE_INTERMEDIATE until it has).
// tStart of Run is the reference-clock time at which stream time 0 is presented.
struct IMediaFilter : IPersist {
    static constexpr const IID& kIid = IID_IMediaFilter;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME tStart) = 0;
    virtual HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* pClock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** pClock) = 0;

protected:
    ~IMediaFilter() = default;
};

struct IBaseFilter : IMediaFilter {
    static constexpr const IID& kIid = IID_IBaseFilter;
    virtual HRESULT EnumPins(IEnumPins** ppEnum) = 0;
    // Id is the pin's name (QueryId); VFW_E_NOT_FOUND when no pin has it.
    virtual HRESULT FindPin(LPCWSTR Id, IPin** ppPin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* pInfo) = 0;
    // Called by the graph when the filter is added (graph, name) or removed (null,
    // null). The filter does not hold a reference on the graph.
    virtual HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) = 0;

protected:
    ~IBaseFilter() = default;
};

struct IEnumPins : IUnknown {
    static constexpr const IID& kIid = IID_IEnumPins;
    // S_FALSE when fewer than cPins were returned; VFW_E_ENUM_OUT_OF_SYNC when
    // the filter's pins changed since the enumerator was made (Reset then).
    virtual HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cPins) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** ppEnum) = 0;

protected:
    ~IEnumPins() = default;
};

struct IEnumMediaTypes : IUnknown {
    static constexpr const IID& kIid = IID_IEnumMediaTypes;
    // Each returned type is task memory: DeleteMediaType it.
    virtual HRESULT Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cMediaTypes) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** ppEnum) = 0;

protected:
    ~IEnumMediaTypes() = default;
};

struct IEnumFilters : IUnknown {
    static constexpr const IID& kIid = IID_IEnumFilters;
    virtual HRESULT Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cFilters) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters** ppEnum) = 0;

protected:
    ~IEnumFilters() = default;
};

// A connection point of a filter. Connect is called on the output pin by the
// graph (pmt may be null or partial); the output pin proposes types to the input
// pin's ReceiveConnection. Connection calls run on the application thread with
// the filter stopped; EndOfStream/BeginFlush/EndFlush/NewSegment travel
// downstream (EndOfStream and NewSegment on the streaming thread, the flushes on
// the thread that seeks).
struct IPin : IUnknown {
    static constexpr const IID& kIid = IID_IPin;
    virtual HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pPin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) = 0; // free with FreeMediaType
    virtual HRESULT QueryPinInfo(PIN_INFO* pInfo) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* pPinDir) = 0;
    virtual HRESULT QueryId(LPWSTR* Id) = 0;
    // S_OK when the pin would accept the type now, S_FALSE otherwise.
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) = 0;
    virtual HRESULT QueryInternalConnections(IPin** apPin, ULONG* nPin) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) = 0;

protected:
    ~IPin() = default;
};

// A buffer with its times and flags. Reference counted; the last Release returns
// it to its allocator (the buffer is never freed while a reference exists).
struct IMediaSample : IUnknown {
    static constexpr const IID& kIid = IID_IMediaSample;
    virtual HRESULT GetPointer(BYTE** ppBuffer) = 0;
    virtual LONG GetSize() = 0; // capacity in bytes
    // S_OK with both times; VFW_S_NO_STOP_TIME with only a start (stop = start +
    // 1); VFW_E_SAMPLE_TIME_NOT_SET with none.
    virtual HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    // Null start clears both times; null end keeps only the start.
    virtual HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    virtual HRESULT IsSyncPoint() = 0; // S_OK / S_FALSE
    virtual HRESULT SetSyncPoint(BOOL bIsSyncPoint) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL bIsPreroll) = 0;
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0; // VFW_E_BUFFER_OVERFLOW past GetSize
    // S_OK and a task-memory copy when the sample announces a new type; S_FALSE
    // and null otherwise.
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* pMediaType) = 0; // copied; null clears
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL bDiscontinuity) = 0;
    virtual HRESULT GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
    virtual HRESULT SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;

protected:
    ~IMediaSample() = default;
};

// A pool of samples. SetProperties only while decommitted with no sample out;
// Commit allocates; GetBuffer blocks until a sample is free (AM_GBF_NOWAIT:
// VFW_E_TIMEOUT instead) and fails with VFW_E_NOT_COMMITTED when decommitted,
// which also releases every waiting caller. Decommit frees the memory once every
// sample has come back.
struct IMemAllocator : IUnknown {
    static constexpr const IID& kIid = IID_IMemAllocator;
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) = 0;
    virtual HRESULT Commit() = 0;
    virtual HRESULT Decommit() = 0;
    virtual HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                              REFERENCE_TIME* pEndTime, DWORD dwFlags) = 0;
    virtual HRESULT ReleaseBuffer(IMediaSample* pBuffer) = 0; // called by the sample

protected:
    ~IMemAllocator() = default;
};

// The push transport of an input pin. Receive is called on the upstream
// streaming thread; the sample is borrowed (AddRef it to keep it).
struct IMemInputPin : IUnknown {
    static constexpr const IID& kIid = IID_IMemInputPin;
    virtual HRESULT GetAllocator(IMemAllocator** ppAllocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) = 0;
    virtual HRESULT Receive(IMediaSample* pSample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                    LONG* nSamplesProcessed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;

protected:
    ~IMemInputPin() = default;
};

// The pull transport of a byte source's output pin. Positions and lengths are
// bytes; in Request/SyncReadAligned the sample's times are byte offsets x 10^7.
struct IAsyncReader : IUnknown {
    static constexpr const IID& kIid = IID_IAsyncReader;
    virtual HRESULT RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                     IMemAllocator** ppActual) = 0;
    virtual HRESULT Request(IMediaSample* pSample, DWORD_PTR dwUser) = 0;
    virtual HRESULT WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) = 0;
    virtual HRESULT SyncReadAligned(IMediaSample* pSample) = 0;
    // S_OK when all bytes were read, S_FALSE for a short read at the end.
    virtual HRESULT SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) = 0;
    virtual HRESULT Length(LONGLONG* pTotal, LONGLONG* pAvailable) = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;

protected:
    ~IAsyncReader() = default;
};

// Seeking in a time format (TIME_FORMAT_MEDIA_TIME = 100-ns units). Flags of
// SetPositions: AM_SEEKING_*Positioning in the low bits.
struct IMediaSeeking : IUnknown {
    static constexpr const IID& kIid = IID_IMediaSeeking;
    virtual HRESULT GetCapabilities(DWORD* pCapabilities) = 0;
    virtual HRESULT CheckCapabilities(DWORD* pCapabilities) = 0;
    virtual HRESULT IsFormatSupported(const GUID* pFormat) = 0;
    virtual HRESULT QueryPreferredFormat(GUID* pFormat) = 0;
    virtual HRESULT GetTimeFormat(GUID* pFormat) = 0;
    virtual HRESULT IsUsingTimeFormat(const GUID* pFormat) = 0;
    virtual HRESULT SetTimeFormat(const GUID* pFormat) = 0;
    virtual HRESULT GetDuration(LONGLONG* pDuration) = 0;
    virtual HRESULT GetStopPosition(LONGLONG* pStop) = 0;
    virtual HRESULT GetCurrentPosition(LONGLONG* pCurrent) = 0;
    virtual HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                      const GUID* pSourceFormat) = 0;
    virtual HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                 DWORD dwStopFlags) = 0;
    virtual HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) = 0;
    virtual HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) = 0;
    virtual HRESULT SetRate(double dRate) = 0;
    virtual HRESULT GetRate(double* pdRate) = 0;
    virtual HRESULT GetPreroll(LONGLONG* pllPreroll) = 0;

protected:
    ~IMediaSeeking() = default;
};

// Seeking in seconds (REFTIME), the automation form of IMediaSeeking.
struct IMediaPosition : IDispatch {
    static constexpr const IID& kIid = IID_IMediaPosition;
    virtual HRESULT get_Duration(REFTIME* plength) = 0;
    virtual HRESULT put_CurrentPosition(REFTIME llTime) = 0;
    virtual HRESULT get_CurrentPosition(REFTIME* pllTime) = 0;
    virtual HRESULT get_StopTime(REFTIME* pllTime) = 0;
    virtual HRESULT put_StopTime(REFTIME llTime) = 0;
    virtual HRESULT get_PrerollTime(REFTIME* pllTime) = 0;
    virtual HRESULT put_PrerollTime(REFTIME llTime) = 0;
    virtual HRESULT put_Rate(double dRate) = 0;
    virtual HRESULT get_Rate(double* pdRate) = 0;
    virtual HRESULT CanSeekForward(LONG* pCanSeekForward) = 0;
    virtual HRESULT CanSeekBackward(LONG* pCanSeekBackward) = 0;

protected:
    ~IMediaPosition() = default;
};

// Stream selection of a demultiplexer. Info: every out pointer may be null;
// *ppmt is task memory (DeleteMediaType), *ppszName task memory (CoTaskMemFree),
// *ppObject / *ppUnk added references.
struct IAMStreamSelect : IUnknown {
    static constexpr const IID& kIid = IID_IAMStreamSelect;
    virtual HRESULT Count(DWORD* pcStreams) = 0;
    virtual HRESULT Info(LONG lIndex, AM_MEDIA_TYPE** ppmt, DWORD* pdwFlags, LCID* plcid,
                         DWORD* pdwGroup, WCHAR** ppszName, IUnknown** ppObject,
                         IUnknown** ppUnk) = 0;
    virtual HRESULT Enable(LONG lIndex, DWORD dwFlags) = 0;

protected:
    ~IAMStreamSelect() = default;
};

// Graph state control (application thread). GetState waits up to msTimeout for
// a pending transition: VFW_S_STATE_INTERMEDIATE when it has not completed.
struct IMediaControl : IDispatch {
    static constexpr const IID& kIid = IID_IMediaControl;
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG msTimeout, OAFilterState* pfs) = 0;
    virtual HRESULT RenderFile(BSTR strFilename) = 0;
    virtual HRESULT AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) = 0;
    virtual HRESULT get_FilterCollection(IDispatch** ppUnk) = 0;
    virtual HRESULT get_RegFilterCollection(IDispatch** ppUnk) = 0;
    virtual HRESULT StopWhenReady() = 0;

protected:
    ~IMediaControl() = default;
};

// The graph's event queue. GetEvent returns E_ABORT after msTimeout with no
// event; call FreeEventParams for every event got.
struct IMediaEvent : IDispatch {
    static constexpr const IID& kIid = IID_IMediaEvent;
    virtual HRESULT GetEventHandle(OAEVENT* hEvent) = 0;
    virtual HRESULT GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                             LONG msTimeout) = 0;
    virtual HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) = 0;
    virtual HRESULT CancelDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT RestoreDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) = 0;

protected:
    ~IMediaEvent() = default;
};

// SetNotifyWindow: each queued event posts a notification carrying lMsg and
// lInstanceData to the Qt object hwnd (see NotifyWindow.h); null stops it.
struct IMediaEventEx : IMediaEvent {
    static constexpr const IID& kIid = IID_IMediaEventEx;
    virtual HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) = 0;
    virtual HRESULT SetNotifyFlags(LONG lNoNotifyFlags) = 0;
    virtual HRESULT GetNotifyFlags(LONG* lplNoNotifyFlags) = 0;

protected:
    ~IMediaEventEx() = default;
};

// What filters raise events on (any thread).
struct IMediaEventSink : IUnknown {
    static constexpr const IID& kIid = IID_IMediaEventSink;
    virtual HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) = 0;

protected:
    ~IMediaEventSink() = default;
};

struct IQualityControl : IUnknown {
    static constexpr const IID& kIid = IID_IQualityControl;
    virtual HRESULT Notify(IBaseFilter* pSelf, Quality q) = 0;
    virtual HRESULT SetSink(IQualityControl* piqc) = 0;

protected:
    ~IQualityControl() = default;
};

struct IFileSourceFilter : IUnknown {
    static constexpr const IID& kIid = IID_IFileSourceFilter;
    virtual HRESULT Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) = 0;

protected:
    ~IFileSourceFilter() = default;
};

// The graph of filters (application thread). Names are unique in a graph: a
// duplicate is made unique ("name 0001") and VFW_S_DUPLICATE_NAME returned.
struct IFilterGraph : IUnknown {
    static constexpr const IID& kIid = IID_IFilterGraph;
    virtual HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* pFilter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** ppEnum) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
    // Output pin first; pmt may be null (then types are negotiated).
    virtual HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT Reconnect(IPin* ppin) = 0;
    // Disconnects one side only (call it for both pins of a connection).
    virtual HRESULT Disconnect(IPin* ppin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;

protected:
    ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
    static constexpr const IID& kIid = IID_IGraphBuilder;
    // Direct, then through filters already in the graph, then through registered
    // components (by merit).
    virtual HRESULT Connect(IPin* ppinOut, IPin* ppinIn) = 0;
    // Completes the path from an output pin to a registered renderer.
    virtual HRESULT Render(IPin* ppinOut) = 0;
    virtual HRESULT RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;
    virtual HRESULT AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                                    IBaseFilter** ppFilter) = 0;
    virtual HRESULT SetLogFile(DWORD_PTR hFile) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT ShouldOperationContinue() = 0;

protected:
    ~IGraphBuilder() = default;
};
