#pragma once
// Builds firmware image files (.bin) for tests and for trying the update on a
// bench: the binary envelope, the tagged payload and its section data, plus
// deliberately broken variants. Pure functions over byte vectors; portable.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace imagebuilder
{
/** A section tag that can be left out of a broken image. */
enum class Tag : uint8_t
{
    None,
    McuCodeStart,
    DspHdrStart,
    Size,
    DspCodeStart,
    ConfigStart
};

struct ImageRecipe
{
    std::string model = "RULKO";             // written at offset 28

    std::vector<uint8_t> mcuCode;
    std::vector<uint8_t> dspHeader;
    std::vector<uint8_t> dspCode;
    std::vector<uint8_t> config;

    uint16_t mcuTagValue = 0x1000;
    uint16_t dspHeaderTagValue = 0x2000;
    uint16_t dspCodeTagValue = 0x3000;
    uint16_t configTagValue = 0x4000;

    // Sizes written into the size lines and the SIZE field; by default the
    // lengths of the contents above. Larger values make "sizes larger than data".
    std::optional<uint32_t> declaredMcuSize;
    std::optional<uint32_t> declaredDspSize;
    std::optional<uint32_t> declaredConfigSize;
    std::optional<uint32_t> declaredDspHeaderSize;

    bool sizeLines = true;                     // write the three size lines at all
    std::optional<std::string> sizeLinesText;  // replaces the generated size lines verbatim
    std::string textAfterSizeLines;            // inserted after the size lines

    // Where the MCUCODESTART tag begins (file offset). By default it follows the
    // size lines, with padding chosen so that the transfer's window walk finds
    // every later tag; set alignTags false to keep the natural layout.
    std::optional<uint32_t> mcuTagOffset;
    bool alignTags = true;

    Tag omitTag = Tag::None;

    // Envelope faults.
    bool badMagic = false;
    bool badBluetooth = false;
    bool wrongChecksum = false;
    bool badTrailer = false;
    bool zeroLength = false;
    bool missingStartMarker = false;
    std::optional<uint32_t> payloadLengthOverride;     // header field only; payload unchanged
    std::optional<std::vector<uint8_t>> payloadOverride; // raw payload instead of the tagged text

    uint32_t totalSize = 0;   // pad after the trailer up to this file size (0: no padding)
};

/** Deterministic pseudo-random bytes (xorshift32 from seed). */
std::vector<uint8_t> patternBytes (size_t count, uint32_t seed);

/** The payload (from "IMAGESTART : " to the last configuration byte). */
std::vector<uint8_t> buildPayload (const ImageRecipe& recipe);

/** The whole file: header, payload, trailer, padding. */
std::vector<uint8_t> buildImage (const ImageRecipe& recipe);

/** XOR of the payload's whole little-endian 32-bit words. */
uint32_t payloadChecksum (const std::vector<uint8_t>& payload);

/** File offsets of the parts of an image built from recipe (for tests). */
struct ImageLayout
{
    uint32_t mcuTag = 0, mcuData = 0;
    uint32_t dspHeaderTag = 0, dspHeaderData = 0;
    uint32_t dspCodeTag = 0, dspCodeData = 0;
    uint32_t configTag = 0, configData = 0;
    uint32_t payloadEnd = 0;
};
ImageLayout imageLayout (const ImageRecipe& recipe);

/** Writes bytes to path; false on failure. */
bool writeFile (const std::string& path, const std::vector<uint8_t>& bytes);
} // namespace imagebuilder
