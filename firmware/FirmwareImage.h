#pragma once
// A firmware image held in memory, and the 4096-byte window through which a
// transfer finds the section tags and takes the section data. The image does
// not change once loaded, so any number of transfers may read it at once, each
// through its own ImageReader.

#include "firmware/ImageTag.h"

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

/** A copy of the image from windowPos on. */
struct ImageWindow
{
    static constexpr int windowSize = 4096;

    std::array<uint8_t, windowSize> bytes {};
    uint32_t windowPos = 0;   // image offset of bytes[0]
    int32_t cursor = 0;       // index into bytes, 0 to 4096
    int32_t filled = 0;       // bytes copied from the image; the rest is cleared
};

class FirmwareImage
{
public:
    /** Files of this size or larger are refused. */
    static constexpr uint32_t maxFileSize = 0x100000;
    static constexpr uint32_t headerSize = 112;
    static constexpr uint32_t trailerSize = 12;

    /** Applies the size limit (a refused file keeps the image held so far),
        replaces the data with the whole file, scans the section sizes and
        checks the start marker. */
    bool load (const std::string& path);

    /** As load, from bytes already in memory (size limit included). */
    bool loadBytes (std::vector<uint8_t> bytes);

    /** Back to the empty image of the start. */
    void clear();

    /** Image offset one past the last payload byte: section data must lie
        before it. The whole data when the header gives no usable length. */
    uint32_t payloadEnd() const noexcept { return payloadLimit; }

    std::vector<uint8_t> data;
    uint32_t size = 0;
    int32_t mcuSize = 0;
    int32_t dspSize = 0;
    int32_t configSize = 0;

private:
    void scanSectionSizes();

    uint32_t payloadLimit = 0;
};

/** One transfer's walk through an image: the window, its cursor and the last
    tag values found. */
class ImageReader
{
public:
    /** Starts with the window at the image's first byte. */
    explicit ImageReader (const FirmwareImage& image);

    /** Copies min(4096, size - windowPos) image bytes into the window and clears the rest. */
    void fillWindow();
    /** Window at the image's first byte, cursor 0. */
    void rewindWindow();
    /** Moves the window so that the byte at the cursor becomes index 0. */
    void advanceWindow();
    /** Searches the window from the cursor for tag; on a match reads its value
        (into tagValue, or dspHeaderSize for Size) and moves the cursor past it. */
    bool findTag (ImageTag tag);
    /** Moves the cursor past the next "]" in the window. */
    bool skipPastBracket();

    const FirmwareImage& image;
    ImageWindow window;
    int32_t dspHeaderSize = 0;
    uint16_t tagValue = 0;
};

/** Checks envelope, model name, payload checksum and trailer, reading the
    stream sequentially from its current position. */
bool checkHeader (std::istream& stream, const char* modelName);

/** Model name a file must carry for panelState: "RULKO" for 1, "DORU-415QX" for 3, else nullptr. */
const char* compatibleModel (int panelState);
