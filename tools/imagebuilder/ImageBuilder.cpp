#include "tools/imagebuilder/ImageBuilder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace imagebuilder
{
namespace
{
constexpr uint32_t headerSize = 112;
constexpr int windowSize = 4096;
constexpr int chunkLimit = 489;

// The four stages of the transfer's walk, in file order.
enum Stage { McuStage, DspHeaderStage, DspCodeStage, ConfigStage, stageCount };

// Each stage opens with its tag text; the last byte the walk must find in the
// window is that text's final "]", and the section's data follows it at once.
//   MCUCODESTART : [000000000HHHH  ]            value at 25, "]" at 31
//   DSPHDRSTART : [000000000HHHH] SIZE : [HHHHH] value at 24, SIZE at 30, "]" at 43
//   DSPCODESTART : [000000000HHHH  ]            value at 25, "]" at 31
//   CONFIGSTART : [000000000HHHH  ]             value at 24, "]" at 30
std::string tagText (Stage stage, uint16_t value, uint32_t headerSizeField, Tag omit)
{
    char text[64];
    switch (stage)
    {
        case McuStage:
            if (omit == Tag::McuCodeStart) return {};
            std::snprintf (text, sizeof (text), "MCUCODESTART : [000000000%04X  ]", value);
            return text;
        case DspHeaderStage:
        {
            std::string s;
            if (omit != Tag::DspHdrStart)
            {
                std::snprintf (text, sizeof (text), "DSPHDRSTART : [000000000%04X]", value);
                s = text;
            }
            if (omit != Tag::Size)
            {
                // The field's six characters start at its "[", leaving five digits.
                std::snprintf (text, sizeof (text), " SIZE : [%05X]", headerSizeField & 0xFFFFF);
                s += text;
            }
            return s;
        }
        case DspCodeStage:
            if (omit == Tag::DspCodeStart) return {};
            std::snprintf (text, sizeof (text), "DSPCODESTART : [000000000%04X  ]", value);
            return text;
        case ConfigStage:
            if (omit == Tag::ConfigStart) return {};
            std::snprintf (text, sizeof (text), "CONFIGSTART : [000000000%04X  ]", value);
            return text;
        default:
            return {};
    }
}

uint32_t declared (const std::optional<uint32_t>& value, const std::vector<uint8_t>& content)
{
    return value ? *value : static_cast<uint32_t> (content.size());
}

struct Sections
{
    const std::vector<uint8_t>* data[stageCount];
    uint32_t declaredSize[stageCount];
    uint16_t tagValue[stageCount];
    bool present[stageCount];
};

Sections sectionsOf (const ImageRecipe& recipe)
{
    Sections s {};
    s.data[McuStage] = &recipe.mcuCode;
    s.data[DspHeaderStage] = &recipe.dspHeader;
    s.data[DspCodeStage] = &recipe.dspCode;
    s.data[ConfigStage] = &recipe.config;
    s.declaredSize[McuStage] = declared (recipe.declaredMcuSize, recipe.mcuCode);
    s.declaredSize[DspHeaderStage] = declared (recipe.declaredDspHeaderSize, recipe.dspHeader);
    s.declaredSize[DspCodeStage] = declared (recipe.declaredDspSize, recipe.dspCode);
    s.declaredSize[ConfigStage] = declared (recipe.declaredConfigSize, recipe.config);
    s.tagValue[McuStage] = recipe.mcuTagValue;
    s.tagValue[DspHeaderStage] = recipe.dspHeaderTagValue;
    s.tagValue[DspCodeStage] = recipe.dspCodeTagValue;
    s.tagValue[ConfigStage] = recipe.configTagValue;
    // The transfer skips the DSP part when the DSP size is 0, the
    // configuration when its size is 0.
    s.present[McuStage] = true;
    s.present[DspHeaderStage] = s.present[DspCodeStage] = s.declaredSize[DspCodeStage] != 0;
    s.present[ConfigStage] = s.declaredSize[ConfigStage] != 0;
    return s;
}

//==============================================================================
// The transfer's window walk, followed far enough to tell whether each tag
// lies inside the window the transfer holds when it looks for it.
struct Walk
{
    uint64_t windowPos = 0;
    int64_t cursor = 0;

    void advance() { windowPos += static_cast<uint64_t> (cursor); cursor = 0; }

    /** Tag text of textLength bytes at file offset tagPos: true when its last byte lies inside the window. */
    bool enterTag (uint64_t tagPos, size_t textLength)
    {
        if (tagPos < windowPos + static_cast<uint64_t> (cursor))
            return false;
        const uint64_t index = tagPos - windowPos;
        if (index + textLength > static_cast<uint64_t> (windowSize))
            return false;
        cursor = static_cast<int64_t> (index + textLength);
        return true;
    }

    void chunk (int64_t n)
    {
        if (cursor + n > windowSize)
            advance();
        cursor += n;
    }

    void codeSection (int64_t remaining, bool realignAfterLast)
    {
        for (;;)
        {
            const bool last = remaining <= chunkLimit;
            const int64_t n = last ? remaining : chunkLimit;
            chunk (n);
            remaining -= n;
            if ((realignAfterLast || ! last) && cursor + chunkLimit > windowSize)
                advance();
            if (last)
                return;
        }
    }

    void headerSection (int64_t remaining)
    {
        do
        {
            const int64_t n = remaining > chunkLimit ? chunkLimit : remaining;
            chunk (n);
            remaining -= n;
        } while (remaining > 0);
    }

    void configSection (int64_t remaining)
    {
        for (;;)
        {
            if (cursor + chunkLimit > windowSize)
                advance();
            const int64_t n = remaining >= chunkLimit ? chunkLimit : remaining;
            cursor += n;
            remaining -= n;
            if (n < chunkLimit)
                return;
        }
    }
};

struct Aligner
{
    const Sections& sections;
    const ImageRecipe& recipe;
    std::array<uint32_t, stageCount> pads {};
    int budget = 20000;

    /** Finds paddings before the tags of stage and the following stages; pos is
        the file offset where stage's tag would start without padding. */
    bool place (int stage, Walk walk, uint64_t pos)
    {
        while (stage < stageCount && ! sections.present[stage])
            ++stage;
        if (stage == stageCount)
            return true;

        const size_t textLength = tagText (static_cast<Stage> (stage), 0, 0, Tag::None).size();
        const uint32_t firstPad = stage == McuStage ? pads[McuStage] : 0;
        const uint32_t lastPad = stage == McuStage && recipe.mcuTagOffset ? firstPad : firstPad + 1024;

        for (uint32_t pad = firstPad; pad <= lastPad && budget > 0; ++pad, --budget)
        {
            Walk w = walk;
            const uint64_t tagPos = pos + pad;
            if (! w.enterTag (tagPos, textLength))
            {
                if (tagPos >= walk.windowPos + static_cast<uint64_t> (walk.cursor))
                    break;   // past the window's end: more padding cannot help
                continue;
            }

            const int64_t size = sections.declaredSize[stage];
            switch (stage)
            {
                case McuStage:       w.codeSection (size, true); break;
                case DspHeaderStage: w.headerSection (size); break;
                case DspCodeStage:   w.codeSection (size, false); break;
                default:             w.configSection (size); break;
            }

            const uint64_t next = tagPos + textLength + sections.data[stage]->size() + 1;
            if (place (stage + 1, w, next))
            {
                pads[static_cast<size_t> (stage)] = pad;
                return true;
            }
        }
        return false;
    }
};

//==============================================================================
std::string prefixText (const ImageRecipe& recipe, const Sections& s)
{
    std::string text = recipe.missingStartMarker ? "IMAGE-START: \n" : "IMAGESTART : \n";

    if (recipe.sizeLinesText)
    {
        text += *recipe.sizeLinesText;
    }
    else if (recipe.sizeLines)
    {
        char lines[128];
        std::snprintf (lines, sizeof (lines), "MCUSIZE : [%06X]\nDSPSIZE : [%06X]\nCONFIGSIZE : [%06X]\n",
                       s.declaredSize[McuStage] & 0xFFFFFF, s.declaredSize[DspCodeStage] & 0xFFFFFF,
                       s.declaredSize[ConfigStage] & 0xFFFFFF);
        text += lines;
    }

    return text + recipe.textAfterSizeLines;
}

std::vector<uint8_t> assemble (const ImageRecipe& recipe, const Sections& s,
                               const std::array<uint32_t, stageCount>& pads, ImageLayout* layout)
{
    const std::string prefix = prefixText (recipe, s);
    std::vector<uint8_t> out (prefix.begin(), prefix.end());
    ImageLayout l;

    uint32_t* const tagOffsets[] = { &l.mcuTag, &l.dspHeaderTag, &l.dspCodeTag, &l.configTag };
    uint32_t* const dataOffsets[] = { &l.mcuData, &l.dspHeaderData, &l.dspCodeData, &l.configData };

    for (int stage = 0; stage < stageCount; ++stage)
    {
        if (! s.present[stage])
            continue;

        if (stage != McuStage)
            out.push_back ('\n');
        out.insert (out.end(), pads[static_cast<size_t> (stage)], '.');

        *tagOffsets[stage] = headerSize + static_cast<uint32_t> (out.size());
        const std::string tag = tagText (static_cast<Stage> (stage), s.tagValue[stage],
                                         s.declaredSize[DspHeaderStage], recipe.omitTag);
        out.insert (out.end(), tag.begin(), tag.end());

        *dataOffsets[stage] = headerSize + static_cast<uint32_t> (out.size());
        out.insert (out.end(), s.data[stage]->begin(), s.data[stage]->end());
    }

    l.payloadEnd = headerSize + static_cast<uint32_t> (out.size());
    if (layout != nullptr)
        *layout = l;
    return out;
}

std::vector<uint8_t> buildPayloadAndLayout (const ImageRecipe& recipe, ImageLayout* layout)
{
    const Sections s = sectionsOf (recipe);
    Aligner aligner { s, recipe };

    const uint32_t natural = headerSize + static_cast<uint32_t> (prefixText (recipe, s).size());
    if (recipe.mcuTagOffset)
        aligner.pads[McuStage] = *recipe.mcuTagOffset > natural ? *recipe.mcuTagOffset - natural : 0;

    // Broken images keep their natural layout: nothing could align them.
    const bool sizesMatch = s.declaredSize[McuStage] == recipe.mcuCode.size()
                         && s.declaredSize[DspHeaderStage] == recipe.dspHeader.size()
                         && (! s.present[DspCodeStage] || s.declaredSize[DspCodeStage] == recipe.dspCode.size())
                         && (! s.present[ConfigStage] || s.declaredSize[ConfigStage] == recipe.config.size());

    if (recipe.alignTags && recipe.omitTag == Tag::None && sizesMatch)
    {
        const std::array<uint32_t, stageCount> start = aligner.pads;
        if (! aligner.place (McuStage, Walk(), natural))
            aligner.pads = start;
    }

    return assemble (recipe, s, aligner.pads, layout);
}

void putLe32 (uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t> (v >> (8 * i));
}
} // namespace

//==============================================================================
std::vector<uint8_t> patternBytes (size_t count, uint32_t seed)
{
    std::vector<uint8_t> out (count);
    uint32_t x = seed != 0 ? seed : 0x9E3779B9u;
    for (auto& b : out)
    {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t> (x >> 24);
    }
    return out;
}

uint32_t payloadChecksum (const std::vector<uint8_t>& payload)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= payload.size(); i += 4)
        sum ^= static_cast<uint32_t> (payload[i]) | static_cast<uint32_t> (payload[i + 1]) << 8
             | static_cast<uint32_t> (payload[i + 2]) << 16 | static_cast<uint32_t> (payload[i + 3]) << 24;
    return sum;
}

std::vector<uint8_t> buildPayload (const ImageRecipe& recipe)
{
    if (recipe.payloadOverride)
        return *recipe.payloadOverride;
    return buildPayloadAndLayout (recipe, nullptr);
}

ImageLayout imageLayout (const ImageRecipe& recipe)
{
    ImageLayout layout;
    buildPayloadAndLayout (recipe, &layout);
    return layout;
}

std::vector<uint8_t> buildImage (const ImageRecipe& recipe)
{
    const std::vector<uint8_t> payload = buildPayload (recipe);

    std::vector<uint8_t> out (headerSize, 0);
    std::memcpy (out.data(), recipe.badMagic ? "KORVO" : "KORVA", 5);
    std::memcpy (out.data() + 16, recipe.badBluetooth ? "BLUETOOTX" : "BLUETOOTH", 9);
    std::memcpy (out.data() + 28, recipe.model.data(), std::min<size_t> (recipe.model.size(), 104 - 28));

    uint32_t length = static_cast<uint32_t> (payload.size());
    if (recipe.payloadLengthOverride)
        length = *recipe.payloadLengthOverride;
    if (recipe.zeroLength)
        length = 0;
    putLe32 (out.data() + 104, length);

    // The checksum covers the payload as the header's length describes it.
    std::vector<uint8_t> covered (payload.begin(), payload.begin() + std::min<size_t> (length, payload.size()));
    uint32_t checksum = payloadChecksum (covered);
    if (recipe.wrongChecksum)
        checksum ^= 0x00000100u;
    putLe32 (out.data() + 108, checksum);

    out.insert (out.end(), payload.begin(), payload.end());

    const char* trailer = recipe.badTrailer ? "BLUETOOTX" : "BLUETOOTH";
    out.insert (out.end(), trailer, trailer + 9);
    const uint8_t version[3] = { 0x01, 0x00, 0x00 };
    out.insert (out.end(), version, version + 3);

    if (recipe.totalSize > out.size())
        out.resize (recipe.totalSize, 0xFF);

    return out;
}

bool writeFile (const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream file (path, std::ios::binary | std::ios::trunc);
    file.write (reinterpret_cast<const char*> (bytes.data()), static_cast<std::streamsize> (bytes.size()));
    return static_cast<bool> (file);
}
} // namespace imagebuilder
