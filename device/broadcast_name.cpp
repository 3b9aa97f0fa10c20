// The interface path of a device-change broadcast, in ANSI or in UTF-16.
#include "device/broadcast_name.h"

std::string BroadcastInterfaceName(const char *name, size_t bytes)
{
    std::string path;
    if (!name)
        return path;
    const bool wide = bytes >= 4 && name[0] != '\0' && name[1] == '\0';
    if (!wide) {
        for (size_t i = 0; i < bytes && name[i] != '\0'; ++i)
            path.push_back(name[i]);
        return path;
    }
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const unsigned unit = static_cast<unsigned>(static_cast<unsigned char>(name[i])) |
                              static_cast<unsigned>(static_cast<unsigned char>(name[i + 1])) << 8u;
        if (unit == 0)
            break;
        path.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return path;
}
