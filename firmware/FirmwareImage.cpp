#include "firmware/FirmwareImage.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace
{
const char startMarker[] = "IMAGESTART : ";   // 13 bytes at the payload's start
const char envelopeMagic[] = "KORVA";
const char envelopeName[] = "BLUETOOTH";

uint32_t readLe32 (const uint8_t* p)
{
    return static_cast<uint32_t> (p[0]) | static_cast<uint32_t> (p[1]) << 8
         | static_cast<uint32_t> (p[2]) << 16 | static_cast<uint32_t> (p[3]) << 24;
}

/** Reads exactly count bytes; false on a short read. */
bool readExactly (std::istream& stream, uint8_t* buffer, std::streamsize count)
{
    stream.read (reinterpret_cast<char*> (buffer), count);
    return stream.gcount() == count;
}
} // namespace

//==============================================================================
bool FirmwareImage::load (const std::string& path)
{
    std::ifstream file (path, std::ios::binary);
    std::streamoff fileSize = 0;

    if (file.is_open() && file.seekg (0, std::ios::end))
    {
        const std::streamoff end = file.tellg();
        fileSize = end > 0 ? end : 0;
        file.seekg (0, std::ios::beg);
    }

    if (fileSize >= static_cast<std::streamoff> (maxFileSize))
        return false;

    std::vector<uint8_t> bytes (static_cast<size_t> (fileSize));
    if (fileSize > 0)
    {
        file.read (reinterpret_cast<char*> (bytes.data()), fileSize);
        bytes.resize (static_cast<size_t> (std::max<std::streamsize> (file.gcount(), 0)));
    }

    return loadBytes (std::move (bytes));
}

bool FirmwareImage::loadBytes (std::vector<uint8_t> bytes)
{
    if (bytes.size() >= maxFileSize)
        return false;

    clear();
    data = std::move (bytes);
    size = static_cast<uint32_t> (data.size());

    payloadLimit = size;
    if (size >= headerSize)
    {
        const uint32_t length = readLe32 (data.data() + 104);
        if (length != 0 && length <= size - headerSize)
            payloadLimit = headerSize + length;
    }

    scanSectionSizes();

    const bool anySize = mcuSize != 0 || dspSize != 0 || configSize != 0;
    const bool marker = size >= headerSize + 13
                     && std::memcmp (data.data() + headerSize, startMarker, 13) == 0;
    return anySize && marker;
}

void FirmwareImage::clear()
{
    data.clear();
    size = 0;
    payloadLimit = 0;
    mcuSize = dspSize = configSize = 0;
}

void FirmwareImage::scanSectionSizes()
{
    // Only one of the three can match at a position: their first letters differ.
    // A later line of the same tag overwrites the earlier value; the
    // configuration-size line ends the scan.
    static const ImageTag sizeTags[] = { ImageTag::McuSize, ImageTag::DspSize, ImageTag::ConfigSize };
    int32_t* const targets[] = { &mcuSize, &dspSize, &configSize };

    for (size_t p = headerSize; p + 2 < size; ++p)
    {
        for (size_t t = 0; t < 3; ++t)
        {
            if (! tagMatchesAt (sizeTags[t], data.data(), size, p))
                continue;

            const TagLayout& layout = tagLayout (sizeTags[t]);
            const size_t first = p + layout.valueOffset;
            const size_t available = first < size ? size - first : 0;
            *targets[t] = readHexField (data.data() + std::min (first, size_t (size)), available, layout.valueChars);

            if (sizeTags[t] == ImageTag::ConfigSize)
                return;
            break;
        }
    }
}

//==============================================================================
ImageReader::ImageReader (const FirmwareImage& source) : image (source)
{
    rewindWindow();
}

void ImageReader::fillWindow()
{
    uint32_t count = 0;
    if (window.windowPos < image.size)
        count = std::min<uint32_t> (ImageWindow::windowSize, image.size - window.windowPos);

    if (count > 0)
        std::memcpy (window.bytes.data(), image.data.data() + window.windowPos, count);
    std::fill (window.bytes.begin() + count, window.bytes.end(), uint8_t { 0 });
    window.filled = static_cast<int32_t> (count);
}

void ImageReader::rewindWindow()
{
    window.windowPos = 0;
    fillWindow();
    window.cursor = 0;
}

void ImageReader::advanceWindow()
{
    window.windowPos += static_cast<uint32_t> (std::max<int32_t> (window.cursor, 0));
    fillWindow();
    window.cursor = 0;
}

bool ImageReader::findTag (ImageTag tag)
{
    const TagLayout& layout = tagLayout (tag);

    if (tag != ImageTag::Size)
        tagValue = 0;

    const size_t limit = static_cast<size_t> (window.filled);
    for (size_t i = static_cast<size_t> (std::max<int32_t> (window.cursor, 0)); i < limit; ++i)
    {
        if (! tagMatchesAt (tag, window.bytes.data(), limit, i))
            continue;

        const size_t first = i + layout.valueOffset;
        const size_t available = first < limit ? limit - first : 0;
        const int32_t value = readHexField (window.bytes.data() + std::min (first, limit), available, layout.valueChars);

        if (tag == ImageTag::Size)
            dspHeaderSize = value;
        else
            tagValue = static_cast<uint16_t> (value);

        window.cursor = static_cast<int32_t> (i + layout.cursorAfter);
        return true;
    }

    return false;
}

bool ImageReader::skipPastBracket()
{
    for (int32_t j = std::max<int32_t> (window.cursor, 0); j < window.filled; ++j)
    {
        if (window.bytes[static_cast<size_t> (j)] == ']')
        {
            window.cursor = j + 1;
            return true;
        }
    }

    return false;
}

//==============================================================================
const char* compatibleModel (int panelState)
{
    switch (panelState)
    {
        case 1:  return "RULKO";
        case 3:  return "DORU-415QX";
        default: return nullptr;
    }
}

bool checkHeader (std::istream& stream, const char* modelName)
{
    uint8_t header[FirmwareImage::headerSize];

    if (modelName == nullptr || ! readExactly (stream, header, sizeof (header)))
        return false;

    if (std::memcmp (header, envelopeMagic, 5) != 0 || std::memcmp (header + 16, envelopeName, 9) != 0)
        return false;

    const uint32_t length = readLe32 (header + 104);
    if (length == 0)
        return false;

    const size_t modelLength = std::strlen (modelName);
    if (modelLength > 104 - 28 || std::memcmp (header + 28, modelName, modelLength) != 0)
        return false;

    // XOR of the payload's whole little-endian words; a short read adds nothing.
    uint32_t sum = 0;
    uint32_t remaining = length;
    while (remaining >= 4 && stream.good())
    {
        uint8_t word[4] = {};
        if (readExactly (stream, word, 4))
            sum ^= readLe32 (word);
        remaining -= 4;
    }
    stream.ignore (length % 4);

    if (sum != readLe32 (header + 108))
        return false;

    uint8_t trailer[FirmwareImage::trailerSize];
    return readExactly (stream, trailer, sizeof (trailer)) && std::memcmp (trailer, envelopeName, 9) == 0;
}
