// CMediaType: an AM_MEDIA_TYPE that owns and copies its format block, plus the
// free functions that manage plain AM_MEDIA_TYPE records and the task-memory
// stand-ins (CoTaskMemAlloc / CoTaskMemFree) their blocks are allocated with.
// Not thread-safe; each instance belongs to one thread at a time.
#pragma once

#include <cstddef>

#include "platform/dshow/DshowTypes.h"
#include "platform/dshow/MediaGuids.h"

// Task memory: what format blocks, AM_MEDIA_TYPE records returned by enumerators
// and strings returned by QueryId are allocated with. Null on failure.
void* CoTaskMemAlloc(std::size_t bytes);
void* CoTaskMemRealloc(void* p, std::size_t bytes);
void CoTaskMemFree(void* p);

// Frees the format block (and releases pUnk) of mt, leaving it empty; the record
// itself stays.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// FreeMediaType, then frees the record itself (one from CreateMediaType or an
// enumerator). Null is ignored.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// Deep copy into *dst (whose previous contents are NOT freed). E_OUTOFMEMORY
// leaves *dst with no format block.
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);
// A task-memory deep copy of *src; null on allocation failure. Free it with
// DeleteMediaType.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src);

class CMediaType : public AM_MEDIA_TYPE {
public:
    // Empty: all GUIDs null, fixed-size samples of 1 byte, no format.
    CMediaType();
    explicit CMediaType(const GUID* majortype);
    CMediaType(const AM_MEDIA_TYPE& rt); // deep copy
    CMediaType(const CMediaType& rt);
    CMediaType(CMediaType&& rt) noexcept;
    ~CMediaType();

    CMediaType& operator=(const AM_MEDIA_TYPE& rt);
    CMediaType& operator=(const CMediaType& rt);
    CMediaType& operator=(CMediaType&& rt) noexcept;
    // Equal major type, subtype, format type and format bytes.
    bool operator==(const CMediaType& rt) const;
    bool operator!=(const CMediaType& rt) const { return !(*this == rt); }

    // Deep copy; E_OUTOFMEMORY when the format block cannot be allocated.
    HRESULT Set(const CMediaType& rt);
    HRESULT Set(const AM_MEDIA_TYPE& rt);
    // True when a major type is set.
    bool IsValid() const;

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* t) { majortype = *t; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* t) { subtype = *t; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* t) { formattype = *t; }

    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const;
    void SetSampleSize(ULONG size); // 0 makes samples variable-size
    void SetVariableSize();
    void SetTemporalCompression(BOOL compressed);

    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    // Replaces the format block with a copy of length bytes at format.
    bool SetFormat(const BYTE* format, ULONG length);
    // Replaces the format block with length zeroed bytes (null on failure).
    BYTE* AllocFormatBuffer(ULONG length);
    // Grows or shrinks the block keeping its first bytes; new bytes are zero.
    BYTE* ReallocFormatBuffer(ULONG length);
    void ResetFormatBuffer();
    // Back to the empty state of the default constructor.
    void InitMediaType();

    // True when every non-null GUID of partial equals ours (and the format bytes
    // match when partial has a format type and a block).
    bool MatchesPartial(const CMediaType* partial) const;
    // True when the major type, subtype or format type is null.
    bool IsPartiallySpecified() const;
};

// Readable "{major}/{sub}/{format}" for traces and test messages.
const char* MediaTypeTraceName(const GUID& g);
