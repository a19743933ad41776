// The functions of libDvd (LibDvd.h): a table of handles, each naming one CDvdDisc.
#include "platform/dvd/LibDvd.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/dvd/DvdDisc.h"
#include "platform/win/DebugTrace.h"

namespace {

// -- protected by tableLock
std::mutex tableLock;
std::unordered_map<DvdHandle, std::shared_ptr<CDvdDisc>> table;
DvdHandle lastHandle = 0;

// The disc behind a handle, kept alive by the returned pointer even if another thread closes
// the handle meanwhile; nullptr for 0 or an unknown handle.
std::shared_ptr<CDvdDisc> Find(DvdHandle handle, const char* caller) {
    std::lock_guard lock(tableLock);
    auto it = table.find(handle);
    if (it == table.end()) {
        DebugTrace("%s: unknown handle %u\n", caller, handle);
        return nullptr;
    }
    return it->second;
}

} // namespace

DvdHandle MyDVDOpen(const char* path) {
    std::shared_ptr<CDvdDisc> disc = CDvdDisc::Open(path);
    if (!disc) return 0;
    std::lock_guard lock(tableLock);
    do {
        ++lastHandle; // wraps after 2^32 opens; 0 and handles in use are skipped
    } while (lastHandle == 0 || table.count(lastHandle));
    table.emplace(lastHandle, std::move(disc));
    return lastHandle;
}

int MyDVDGetInfo(DvdHandle handle, DvdDiscInfo* info) {
    if (!info) return -1;
    auto disc = Find(handle, "MyDVDGetInfo");
    if (!disc) return -1;
    std::lock_guard lock(disc->Lock());
    std::memcpy(info, &disc->Info(), sizeof(DvdDiscInfo));
    return 0;
}

int MyDVDSetArea(DvdHandle handle, int title, int chapter) {
    auto disc = Find(handle, "MyDVDSetArea");
    if (!disc) return -1;
    std::lock_guard lock(disc->Lock());
    return disc->SetArea(title, chapter) ? 0 : -1;
}

int MyDvdSetStopPos(DvdHandle handle, int stopTitle, int stopChapter) {
    auto disc = Find(handle, "MyDvdSetStopPos");
    if (!disc) return -1;
    std::lock_guard lock(disc->Lock());
    return disc->SetStopPos(stopTitle, stopChapter) ? 0 : -1;
}

int MyDVDRead(DvdHandle handle, std::uint8_t* buffer, int size) {
    auto disc = Find(handle, "MyDVDRead");
    if (!disc) return -1;
    std::lock_guard lock(disc->Lock());
    return disc->Read(buffer, size);
}

std::int64_t MyDVDSeek(DvdHandle handle, std::int64_t offset, int origin) {
    auto disc = Find(handle, "MyDVDSeek");
    if (!disc) return -1;
    std::lock_guard lock(disc->Lock());
    return disc->Seek(offset, origin);
}

int MyDVDGetPalette(DvdHandle handle, int title, std::uint32_t palette[16]) {
    if (!palette) return -1;
    auto disc = Find(handle, "MyDVDGetPalette");
    if (!disc) return -1;
    std::lock_guard lock(disc->Lock());
    return disc->Palette(title, palette) ? 0 : -1;
}

void MyDVDClose(DvdHandle handle) {
    if (handle == 0) return;
    std::shared_ptr<CDvdDisc> disc;
    {
        std::lock_guard lock(tableLock);
        auto it = table.find(handle);
        if (it == table.end()) return;
        disc = std::move(it->second);
        table.erase(it);
    }
    // Wait for a call in progress on this handle, then free the disc (when this is the last
    // reference; a call that found the disc just before keeps it until it returns).
    std::lock_guard lock(disc->Lock());
}
