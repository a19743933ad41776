#include "convert/StreamList.h"

#include <cstdio>

int StreamList::KeyFromName(const std::string& name) {
    auto open = name.rfind('(');
    if (open == std::string::npos) return -1;
    unsigned a = 0, b = 0, c = 0;
    char close = 0;
    if (std::sscanf(name.c_str() + open, "(%x,%x,%x%c", &a, &b, &c, &close) != 4 || close != ')' ||
        b > 0xFF || c > 0xFF)
        return -1;
    return int(b << 8 | c);
}
