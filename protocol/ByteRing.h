#pragma once
// A ring of bytes over caller-owned static storage. Holds at most size - 1
// bytes (readIndex == writeIndex means empty).

#include <cstdint>

class ByteRing
{
public:
    ByteRing (uint8_t* storage, uint16_t slots) noexcept : data (storage), size (slots) {}

    /** Copies all n bytes in, or nothing when they do not fit in the free room. */
    bool append (const uint8_t* src, int n) noexcept;

    bool isEmpty() const noexcept { return readIndex == writeIndex; }

    /** Bytes held. */
    int held() const noexcept;

    /** Takes the next byte; the ring must not be empty. */
    uint8_t take() noexcept;

    /** Empties the ring (both indices back to 0). */
    void clear() noexcept { readIndex = writeIndex = 0; }

    uint8_t* const data;
    const uint16_t size;
    uint16_t readIndex = 0;
    uint16_t writeIndex = 0;
};
