// AppSettings: the persisted preferences, one value each in the
// settings key "Software\" + appTitle of the settings store (platform/win).
// Used on the user-interface thread only.
#pragma once

#include <string>

#include "platform/com/WinTypes.h"

class AppSettings {
public:
    // Which values a write touches.
    enum Value : unsigned {
        OutFolder = 1,
        SnapFolder = 2,
        ImageType = 4,
        Action = 8,
        CpuUsage = 16,
        AllValues = 31,
    };
    // A string value is kept from the store only when it has a string type
    // and fits this many wide characters, terminating zero included.
    static constexpr DWORD kMaxChars = 256;

    std::u16string strOutFolder;  // REG_SZ, default: the user's Videos folder ("D:\")
    std::u16string strSnapFolder; // REG_SZ, default: the user's Videos folder ("D:\")
    std::u16string strImageType;  // REG_SZ, default "BMP"
    std::u16string strAction;     // REG_SZ, default "No Action"
    DWORD cpu_usage = 50;         // REG_DWORD, default 50

    // A record holding the defaults.
    static AppSettings Defaults();
    // The settings key path for an application title: "Software\" + title
    // ("Software\" alone for an empty title).
    static std::u16string KeyPath(const std::u16string& appTitle);

    // The main window's initialisation reads the settings: put the defaults in, then,
    // if the key opens for reading, take each string value that exists, has
    // a string type (REG_SZ or REG_EXPAND_SZ) and fits kMaxChars, and
    // cpu_usage only if it is a REG_DWORD. Returns whether the key opened.
    bool Load(const std::u16string& keyPath);

    // Opens or creates the key with read and write access and writes only the
    // named values (a mask of Value). False, with nothing written, when the
    // key cannot be created; false also when a write fails.
    bool Save(const std::u16string& keyPath, unsigned values) const;

    // The values (mask of Value) in which this record differs from `other`;
    // strings compared case-sensitively. The preferences dialog writes these.
    unsigned Differences(const AppSettings& other) const;

    bool operator==(const AppSettings&) const = default;
};
