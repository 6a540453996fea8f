#include "ProtocolTestSupport.h"

#include <cctype>

Bytes hexBytes (const std::string& text)
{
    Bytes out;
    int high = -1;
    for (char c : text)
    {
        if (! std::isxdigit (static_cast<unsigned char> (c)))
            continue;
        const int v = std::isdigit (static_cast<unsigned char> (c)) ? c - '0' : (std::tolower (c) - 'a' + 10);
        if (high < 0)
            high = v;
        else
        {
            out.push_back (static_cast<uint8_t> (high * 16 + v));
            high = -1;
        }
    }
    return out;
}
