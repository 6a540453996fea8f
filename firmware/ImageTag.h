#pragma once
// The ASCII tags of a firmware image's payload. A tag is recognised by a few
// letters at fixed offsets from its first letter (the letters in between are
// not compared); its value is a bracketed hexadecimal field at a fixed offset.

#include <cstddef>
#include <cstdint>

enum class ImageTag : uint8_t
{
    // Section-size lines, scanned once when the image is loaded.
    McuSize,
    DspSize,
    ConfigSize,
    // Section tags, searched in the image window during a transfer.
    McuCodeStart,
    DspHdrStart,
    Size,
    DspCodeStart,
    ConfigStart
};

struct TagLetter
{
    uint8_t offset;
    char letter;
};

/** How one tag is recognised and where its value lies, all counted from the
    tag's first letter. */
struct TagLayout
{
    const char* word;        // the tag word; only `letters` of it are compared
    TagLetter letters[6];
    uint8_t letterCount;
    uint8_t valueOffset;     // first value character
    uint8_t valueChars;      // at most this many value characters
    uint8_t cursorAfter;     // window cursor after the value (section tags only)
};

const TagLayout& tagLayout (ImageTag tag);

/** Offset of the tag's last compared letter: the tag fits when this lies inside the bytes. */
int tagExtent (ImageTag tag);

/** True when all compared letters of tag lie below limit and match at pos. */
bool tagMatchesAt (ImageTag tag, const uint8_t* bytes, size_t limit, size_t pos);

/** Reads at most maxChars value characters from chars[0 .. available). A "]"
    ends the value early; '0'-'9' and 'A'-'F' are digits, every other character
    (lower case, a leading "[") counts as digit 0 and still shifts the value. */
int32_t readHexField (const uint8_t* chars, size_t available, int maxChars);
