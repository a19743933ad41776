#include "platform/win/SettingsStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win/DebugTrace.h"
#include "platform/win/TextConvert.h"

namespace fs = std::filesystem;

namespace {

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool Unescape(const std::string& s, std::string& out) {
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i >= s.size()) return false;
        switch (s[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return false;
        }
    }
    return true;
}

const char* TypeName(RegType t) {
    switch (t) {
    case RegType::Sz:
        return "sz";
    case RegType::ExpandSz:
        return "expand_sz";
    case RegType::Dword:
        return "dword";
    case RegType::Binary:
        return "binary";
    default:
        return nullptr;
    }
}

bool ParseLine(const std::string& line, std::u16string& name, RegValue& value) {
    if (line.empty() || line[0] == '#') return false;
    size_t t1 = line.find('\t');
    if (t1 == std::string::npos) return false;
    size_t t2 = line.find('\t', t1 + 1);
    if (t2 == std::string::npos) return false;
    std::string rawName, type = line.substr(t1 + 1, t2 - t1 - 1), data = line.substr(t2 + 1);
    if (!Unescape(line.substr(0, t1), rawName) || rawName.empty()) return false;
    name = Utf8ToUtf16(rawName);
    value = RegValue{};
    if (type == "sz" || type == "expand_sz") {
        std::string text;
        if (!Unescape(data, text)) return false;
        value.type = type == "sz" ? RegType::Sz : RegType::ExpandSz;
        value.text = Utf8ToUtf16(text);
        return true;
    }
    if (type == "dword") {
        if (data.empty() || data.size() > 10) return false;
        unsigned long long n = 0;
        for (char c : data) {
            if (c < '0' || c > '9') return false;
            n = n * 10 + (c - '0');
        }
        if (n > 0xFFFFFFFFull) return false;
        value.type = RegType::Dword;
        value.number = static_cast<DWORD>(n);
        return true;
    }
    if (type == "binary") {
        if (data.size() % 2) return false;
        value.type = RegType::Binary;
        for (size_t i = 0; i < data.size(); i += 2) {
            auto hex = [](char c) -> int {
                if (c >= '0' && c <= '9') return c - '0';
                if (c >= 'a' && c <= 'f') return c - 'a' + 10;
                if (c >= 'A' && c <= 'F') return c - 'A' + 10;
                return -1;
            };
            int hi = hex(data[i]), lo = hex(data[i + 1]);
            if (hi < 0 || lo < 0) return false;
            value.bytes.push_back(static_cast<BYTE>(hi * 16 + lo));
        }
        return true;
    }
    return false;
}

bool ReadFile(const fs::path& file, std::map<std::u16string, RegValue>& values) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    values.clear();
    std::string line;
    while (std::getline(in, line)) {
        std::u16string name;
        RegValue value;
        if (ParseLine(line, name, value)) values[name] = std::move(value);
    }
    return true;
}

std::string Serialise(const std::map<std::u16string, RegValue>& values) {
    std::ostringstream out;
    out << "# dvdconv settings: name<TAB>type<TAB>value\n";
    for (const auto& [name, value] : values) {
        const char* type = TypeName(value.type);
        if (!type) continue;
        out << Escape(Utf16ToUtf8(name)) << '\t' << type << '\t';
        switch (value.type) {
        case RegType::Sz:
        case RegType::ExpandSz:
            out << Escape(Utf16ToUtf8(value.text));
            break;
        case RegType::Dword:
            out << value.number;
            break;
        case RegType::Binary:
            for (BYTE b : value.bytes) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02x", b);
                out << hex;
            }
            break;
        default:
            break;
        }
        out << '\n';
    }
    return out.str();
}

// Writes `content` to a temporary file beside `file`, flushes it to disk and
// renames it over `file`.
bool ReplaceFile(const fs::path& file, const std::string& content) {
    fs::path temp = file;
    temp += ".tmp." + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        DebugTrace("settings: cannot create %s: %s\n", temp.c_str(), std::strerror(errno));
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), file.c_str()) != 0) ok = false;
    if (!ok) {
        DebugTrace("settings: cannot write %s: %s\n", file.c_str(), std::strerror(errno));
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// Holds an advisory lock on "<folder>/.lock" for one read-modify-write.
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder) {
        fd_ = ::open((folder / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~FolderLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace

DWORD RegValue::SizeInBytes() const {
    switch (type) {
    case RegType::Sz:
    case RegType::ExpandSz:
        return static_cast<DWORD>((text.size() + 1) * 2);
    case RegType::Dword:
        return 4;
    case RegType::Binary:
        return static_cast<DWORD>(bytes.size());
    default:
        return 0;
    }
}

fs::path SettingsKey::StoreFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return fs::path(xdg) / "dvdconv";
    const char* home = std::getenv("HOME");
    if (home && home[0]) return fs::path(home) / ".config" / "dvdconv";
    return fs::path("/tmp") / ("dvdconv-" + std::to_string(::getuid())) / "config";
}

fs::path SettingsKey::KeyFile(const std::u16string& keyPath) {
    std::u16string path = keyPath;
    while (!path.empty() && path.back() == u'\\')
        path.pop_back();
    std::string utf8 = Utf16ToUtf8(path), name;
    for (unsigned char c : utf8) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == ' ' || c == '-' || c == '_' || c == '.';
        if (plain) {
            name += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            name += hex;
        }
    }
    if (name.empty() || name == "." || name == "..") name = "%root" + name;
    // Keep within the usual 255-byte file name limit.
    if (name.size() > 240) name.resize(240);
    return StoreFolder() / (name + ".conf");
}

std::unique_ptr<SettingsKey> SettingsKey::OpenForRead(const std::u16string& keyPath) {
    fs::path file = KeyFile(keyPath);
    std::unique_ptr<SettingsKey> key(new SettingsKey(file, false));
    if (!ReadFile(file, key->values_)) return nullptr;
    return key;
}

std::unique_ptr<SettingsKey> SettingsKey::OpenForWrite(const std::u16string& keyPath) {
    fs::path file = KeyFile(keyPath);
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (::access(file.parent_path().c_str(), W_OK | X_OK) != 0) {
        DebugTrace("settings: folder %s is not writable\n", file.parent_path().c_str());
        return nullptr;
    }
    std::unique_ptr<SettingsKey> key(new SettingsKey(file, true));
    FolderLock lock(file.parent_path());
    if (!ReadFile(file, key->values_)) {
        if (fs::exists(file, ec)) return nullptr; // exists but cannot be read
        if (!ReplaceFile(file, Serialise(key->values_))) return nullptr;
    }
    return key;
}

std::optional<RegValue> SettingsKey::Query(const std::u16string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

bool SettingsKey::Write(const std::u16string& name, const std::optional<RegValue>& value) {
    if (!writable_ || name.empty()) return false;
    FolderLock lock(file_.parent_path());
    std::map<std::u16string, RegValue> current;
    if (!ReadFile(file_, current)) current.clear();
    if (value)
        current[name] = *value;
    else
        current.erase(name);
    if (!ReplaceFile(file_, Serialise(current))) return false;
    values_ = std::move(current);
    return true;
}

bool SettingsKey::SetString(const std::u16string& name, const std::u16string& value, RegType type) {
    if (type != RegType::Sz && type != RegType::ExpandSz) return false;
    RegValue v;
    v.type = type;
    v.text = value;
    return Write(name, v);
}

bool SettingsKey::SetDword(const std::u16string& name, DWORD value) {
    RegValue v;
    v.type = RegType::Dword;
    v.number = value;
    return Write(name, v);
}

bool SettingsKey::SetBinary(const std::u16string& name, const std::vector<BYTE>& value) {
    RegValue v;
    v.type = RegType::Binary;
    v.bytes = value;
    return Write(name, v);
}

bool SettingsKey::DeleteValue(const std::u16string& name) {
    return Write(name, std::nullopt);
}
