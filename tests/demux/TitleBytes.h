// The program-stream bytes of one title of an authored test disc, read through
// the disc library as the DVD source would, with the title's record.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/dvd/LibDvd.h"

struct TitleBytes {
    std::shared_ptr<std::vector<std::uint8_t>> bytes =
        std::make_shared<std::vector<std::uint8_t>>();
    DvdTitleInfo info{};
    int titleCount = 0;

    // Reads title `title` of the disc in `folder`; false when the disc or title is missing.
    bool Load(const std::string& folder, int title) {
        DvdHandle h = MyDVDOpen(folder.c_str());
        if (!h) return false;
        auto disc = std::make_unique<DvdDiscInfo>();
        bool ok = MyDVDGetInfo(h, disc.get()) == 0 && title < disc->titleCount &&
                  MyDVDSetArea(h, title, 0) == 0 && MyDvdSetStopPos(h, title + 1, 0) == 0;
        if (ok) {
            titleCount = disc->titleCount;
            info = disc->titles[title];
            std::vector<std::uint8_t> buf(10240);
            int n;
            while ((n = MyDVDRead(h, buf.data(), static_cast<int>(buf.size()))) > 0)
                bytes->insert(bytes->end(), buf.begin(), buf.begin() + n);
            ok = n == 0 && !bytes->empty();
        }
        MyDVDClose(h);
        return ok;
    }

    // Writes the bytes to `path` (for the peer tools).
    bool Save(const std::string& path) const {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes->data()),
                  static_cast<std::streamsize>(bytes->size()));
        return static_cast<bool>(out);
    }
};
