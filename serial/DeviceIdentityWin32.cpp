#include "serial/DeviceIdentity.h"

#include <cctype>

std::string deviceKey (const std::string& name)
{
    // "\\.\COM3", "com3" and "COM3" name the same port.
    std::string key = name;
    if (key.rfind ("\\\\.\\", 0) == 0)
        key.erase (0, 4);
    for (auto& c : key)
        c = (char) std::toupper ((unsigned char) c);
    return key;
}
