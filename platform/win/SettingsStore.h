// The settings store that stands for the system registry. A key path such as
// "Software\DVD Converter" maps to one text file in the user's XDG config
// folder: $XDG_CONFIG_HOME/dvdconv/<escaped key path>.conf (or
// ~/.config/dvdconv/...). Values keep their registry type: string (REG_SZ),
// expandable string (REG_EXPAND_SZ), 32-bit number (REG_DWORD), bytes
// (REG_BINARY). Every write rewrites the file atomically (temporary file,
// fsync, rename) under an advisory lock, re-reading it first, so values
// written by another open key are kept and a crash never loses the file.
//
// File format (UTF-8, one value per line, '#' starts a comment line):
//   <name> TAB <type> TAB <data>
// type is sz, expand_sz, dword or binary; names and string data escape
// backslash, tab, line feed and carriage return as \\ \t \n \r; dword data is
// decimal; binary data is hexadecimal. Lines that do not parse are skipped.
//
// A SettingsKey is used by one thread at a time.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/WinTypes.h"

enum class RegType : DWORD { None = 0, Sz = 1, ExpandSz = 2, Binary = 3, Dword = 4 };

// One value as read back: its type, its data and its size in bytes as the
// registry reports it (strings: UTF-16 units plus the terminating zero, times 2).
struct RegValue {
    RegType type = RegType::None;
    std::u16string text;     // Sz, ExpandSz
    DWORD number = 0;        // Dword
    std::vector<BYTE> bytes; // Binary
    DWORD SizeInBytes() const;
    bool IsString() const { return type == RegType::Sz || type == RegType::ExpandSz; }
};

class SettingsKey {
public:
    // The folder holding the key files: $XDG_CONFIG_HOME/dvdconv when that
    // variable holds an absolute path, else $HOME/.config/dvdconv.
    static std::filesystem::path StoreFolder();
    // The file of a key path ("Software\Title" -> "Software%5CTitle.conf";
    // trailing backslashes are dropped, bytes other than letters, digits,
    // space, '-', '_' and '.' are written as %XX of their UTF-8 form).
    static std::filesystem::path KeyFile(const std::u16string& keyPath);

    // Opens an existing key for reading. Fails (nullptr) when it does not
    // exist or cannot be read.
    static std::unique_ptr<SettingsKey> OpenForRead(const std::u16string& keyPath);
    // Opens the key for reading and writing, creating the folder and an empty
    // key when needed. Fails when the folder cannot be created or written.
    static std::unique_ptr<SettingsKey> OpenForWrite(const std::u16string& keyPath);

    // Looks a value up; nullopt when the key has no value of that name.
    std::optional<RegValue> Query(const std::u16string& name) const;
    // Writes one value (only that one); false when the key was opened for
    // reading only or the file could not be replaced.
    bool SetString(const std::u16string& name, const std::u16string& value,
                   RegType type = RegType::Sz);
    bool SetDword(const std::u16string& name, DWORD value);
    bool SetBinary(const std::u16string& name, const std::vector<BYTE>& value);
    // Removes one value; true when it is gone afterwards.
    bool DeleteValue(const std::u16string& name);

    const std::filesystem::path& File() const { return file_; }

private:
    SettingsKey(std::filesystem::path file, bool writable)
        : file_(std::move(file)), writable_(writable) {}
    bool Write(const std::u16string& name, const std::optional<RegValue>& value);

    std::filesystem::path file_;
    bool writable_;
    std::map<std::u16string, RegValue> values_;
};
