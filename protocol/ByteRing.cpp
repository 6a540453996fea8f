#include "protocol/ByteRing.h"

int ByteRing::held() const noexcept
{
    return (static_cast<int> (writeIndex) - static_cast<int> (readIndex) + size) % size;
}

bool ByteRing::append (const uint8_t* src, int n) noexcept
{
    if (n < 0 || n > size - 1 - held())
        return false;

    for (int i = 0; i < n; ++i)
    {
        data[writeIndex] = src[i];
        if (++writeIndex == size)
            writeIndex = 0;
    }
    return true;
}

uint8_t ByteRing::take() noexcept
{
    const uint8_t b = data[readIndex];
    if (++readIndex == size)
        readIndex = 0;
    return b;
}
