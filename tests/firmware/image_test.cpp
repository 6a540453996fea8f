// The firmware image file: envelope check, loading, the section-size scan,
// hexadecimal fields, the window, and the acceptance decision.

#include "FirmwareFixtures.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/FirmwareUpdate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

using imagebuilder::ImageRecipe;
using fixtures::TempFile;

namespace
{
bool headerPasses (const std::vector<uint8_t>& bytes, const char* model)
{
    std::istringstream stream (std::string (bytes.begin(), bytes.end()));
    return checkHeader (stream, model);
}

class ImageTest : public ::testing::Test
{
};

//==============================================================================
struct HeaderCase
{
    const char* name;
    std::function<void (ImageRecipe&)> change;
    const char* expectedModel;
    bool passes;
};

TEST_F (ImageTest, HeaderCheckTable)
{
    const HeaderCase cases[] = {
        { "well formed", [] (ImageRecipe&) {}, "RULKO", true },
        { "model with extra letters", [] (ImageRecipe& s) { s.model = "RULKO-2X"; }, "RULKO", true },
        { "RULKO file for DORU", [] (ImageRecipe&) {}, "DORU-415QX", false },
        { "DORU file for DORU", [] (ImageRecipe& s) { s.model = "DORU-415QX"; }, "DORU-415QX", true },
        { "DORU file for RULKO", [] (ImageRecipe& s) { s.model = "DORU-415QX"; }, "RULKO", false },
        { "model shorter than expected", [] (ImageRecipe& s) { s.model = "RULK"; }, "RULKO", false },
        { "bad magic", [] (ImageRecipe& s) { s.badMagic = true; }, "RULKO", false },
        { "bad BLUETOOTH at 16", [] (ImageRecipe& s) { s.badBluetooth = true; }, "RULKO", false },
        { "payload length 0", [] (ImageRecipe& s) { s.zeroLength = true; }, "RULKO", false },
        { "wrong checksum", [] (ImageRecipe& s) { s.wrongChecksum = true; }, "RULKO", false },
        { "bad trailer", [] (ImageRecipe& s) { s.badTrailer = true; }, "RULKO", false },
        { "length one short", [] (ImageRecipe& s) { s.payloadLengthOverride = imagebuilder::buildPayload (s).size() - 4; }, "RULKO", false },
        { "length past the file", [] (ImageRecipe& s) { s.payloadLengthOverride = 0x7FFFFFF0u; }, "RULKO", false },
        { "bytes after the trailer", [] (ImageRecipe& s) { s.totalSize = 30000; }, "RULKO", true },
        { "no start marker (envelope still fine)", [] (ImageRecipe& s) { s.missingStartMarker = true; }, "RULKO", true },
    };

    for (const HeaderCase& c : cases)
    {
        ImageRecipe recipe = fixtures::imageRecipe();
        c.change (recipe);
        EXPECT_EQ (headerPasses (imagebuilder::buildImage (recipe), c.expectedModel), c.passes) << c.name;
    }
}

TEST_F (ImageTest, HeaderRefusesTruncatedFiles)
{
    const std::vector<uint8_t> good = imagebuilder::buildImage (fixtures::imageRecipe());
    for (size_t keep : { size_t (0), size_t (111), size_t (112), good.size() - 12, good.size() - 1 })
        EXPECT_FALSE (headerPasses (std::vector<uint8_t> (good.begin(), good.begin() + long (keep)), "RULKO")) << keep;
    EXPECT_FALSE (headerPasses (good, nullptr));
}

TEST_F (ImageTest, LengthTenChecksumsTwoWordsAndReadsTrailerAt122)
{
    ImageRecipe recipe = fixtures::imageRecipe();
    recipe.payloadOverride = std::vector<uint8_t> { 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J' };
    std::vector<uint8_t> bytes = imagebuilder::buildImage (recipe);

    ASSERT_EQ (bytes.size(), 112u + 10u + 12u);
    const uint32_t expected = (0x44434241u ^ 0x48474645u);
    uint32_t stored = 0;
    std::memcpy (&stored, bytes.data() + 108, 4);   // little-endian host
    EXPECT_EQ (stored, expected);
    EXPECT_EQ (std::memcmp (bytes.data() + 122, "BLUETOOTH", 9), 0);
    EXPECT_TRUE (headerPasses (bytes, "RULKO"));

    std::vector<uint8_t> tail = bytes;
    tail[120] ^= 0xFF;   // bytes 120 and 121 are outside the checksum
    tail[121] ^= 0xFF;
    EXPECT_TRUE (headerPasses (tail, "RULKO"));

    std::vector<uint8_t> word = bytes;
    word[119] ^= 0x01;
    EXPECT_FALSE (headerPasses (word, "RULKO"));

    std::vector<uint8_t> shifted = bytes;
    shifted.insert (shifted.begin() + 122, 0x00);   // trailer now at 123
    EXPECT_FALSE (headerPasses (shifted, "RULKO"));
}

//==============================================================================
TEST_F (ImageTest, ReadHexFieldCases)
{
    struct Case { const char* text; int maxChars; int32_t value; };
    const Case cases[] = {
        { "[0012A", 6, 0x12A },    // the "[" is a digit 0
        { "[00012A", 6, 0x12 },    // the A is the seventh character
        { "1a0]", 6, 0x100 },      // lower case counts as 0
        { "12]", 6, 0x12 },
        { "]123", 6, 0 },
        { "FFFFFF", 6, 0xFFFFFF },
        { "ABCDE", 4, 0xABCD },
        { "00G1", 4, 0x0001 },
    };
    for (const Case& c : cases)
        EXPECT_EQ (readHexField (reinterpret_cast<const uint8_t*> (c.text), std::strlen (c.text), c.maxChars), c.value)
            << c.text;

    // The end of the available bytes ends the value.
    EXPECT_EQ (readHexField (reinterpret_cast<const uint8_t*> ("1234"), 2, 6), 0x12);
}

TEST_F (ImageTest, ModelForPanelState)
{
    EXPECT_STREQ (compatibleModel (1), "RULKO");
    EXPECT_STREQ (compatibleModel (3), "DORU-415QX");
    for (int state : { -1, 0, 2, 4 })
        EXPECT_EQ (compatibleModel (state), nullptr) << state;
}

//==============================================================================
struct LoadCase
{
    const char* name;
    std::function<void (ImageRecipe&)> change;
    bool loads;
    int32_t mcuSize, dspSize, configSize;
};

TEST_F (ImageTest, LoadTable)
{
    const LoadCase cases[] = {
        { "well formed", [] (ImageRecipe&) {}, true, 1000, 2000, 300 },
        { "all sizes 0", [] (ImageRecipe& s) { s.declaredMcuSize = s.declaredDspSize = s.declaredConfigSize = 0u; }, false, 0, 0, 0 },
        { "no size lines", [] (ImageRecipe& s) { s.sizeLines = false; }, false, 0, 0, 0 },
        { "only a configuration size", [] (ImageRecipe& s) { s.sizeLinesText = "CONFIGSIZE : [000010]\n"; }, true, 0, 0, 0x10 },
        { "no start marker", [] (ImageRecipe& s) { s.missingStartMarker = true; }, false, 1000, 2000, 300 },
        { "M-C-U after the configuration size",
          [] (ImageRecipe& s) { s.textAfterSizeLines = "MCUSIZE : [000777]\nDSPSIZE : [000777]\n"; }, true, 1000, 2000, 300 },
        { "a second MCUSIZE before it",
          [] (ImageRecipe& s) { s.sizeLinesText = "MCUSIZE : [000010]\nDSPSIZE : [0007D0]\nMCUSIZE : [000020]\nCONFIGSIZE : [00012C]\n"; },
          true, 0x20, 2000, 300 },
        { "size line value ended by its bracket", [] (ImageRecipe& s) { s.sizeLinesText = "MCUSIZE : [3E8]\nCONFIGSIZE : [1]\n"; },
          true, 0x3E8, 0, 1 },
        { "size limit minus one", [] (ImageRecipe& s) { s.totalSize = 1048575; }, true, 1000, 2000, 300 },
    };

    for (const LoadCase& c : cases)
    {
        ImageRecipe recipe = fixtures::imageRecipe();
        c.change (recipe);
        TempFile file (imagebuilder::buildImage (recipe));
        FirmwareImage image;
        EXPECT_EQ (image.load (file.path), c.loads) << c.name;
        EXPECT_EQ (image.mcuSize, c.mcuSize) << c.name;
        EXPECT_EQ (image.dspSize, c.dspSize) << c.name;
        EXPECT_EQ (image.configSize, c.configSize) << c.name;
    }
}

TEST_F (ImageTest, SizeLimitKeepsThePreviousImage)
{
    ImageRecipe recipe = fixtures::imageRecipe();
    TempFile good (imagebuilder::buildImage (recipe));
    FirmwareImage image;
    ASSERT_TRUE (image.load (good.path));
    const std::vector<uint8_t> held = image.data;

    recipe.totalSize = 1048576;
    TempFile tooLarge (imagebuilder::buildImage (recipe));
    EXPECT_FALSE (image.load (tooLarge.path));
    EXPECT_EQ (image.data, held);
    EXPECT_EQ (image.size, held.size());
    EXPECT_EQ (image.mcuSize, 1000);

    EXPECT_FALSE (image.load (good.path + ".missing"));
    EXPECT_EQ (image.size, 0u);
}

//==============================================================================
TEST_F (ImageTest, WindowFollowsTheCursor)
{
    FirmwareImage image;
    image.loadBytes (imagebuilder::patternBytes (10000, 3));

    ImageReader reader (image);
    EXPECT_EQ (reader.window.windowPos, 0u);
    EXPECT_EQ (reader.window.bytes[4095], image.data[4095]);

    reader.window.cursor = 3000;
    reader.advanceWindow();
    EXPECT_EQ (reader.window.windowPos, 3000u);
    EXPECT_EQ (reader.window.cursor, 0);
    EXPECT_EQ (reader.window.bytes[0], image.data[3000]);
    EXPECT_EQ (reader.window.bytes[4095], image.data[3000 + 4095]);

    // Near the end only the image's bytes are copied; the rest is cleared.
    reader.window.cursor = 4096;
    reader.advanceWindow();
    EXPECT_EQ (reader.window.windowPos, 7096u);
    EXPECT_EQ (reader.window.filled, 10000 - 7096);
    EXPECT_EQ (reader.window.bytes[2903], image.data[9999]);
    EXPECT_EQ (reader.window.bytes[2904], 0);
    EXPECT_EQ (reader.window.bytes[4095], 0);
}

TEST_F (ImageTest, FindTagInsideTheWindowOnly)
{
    const std::string tag = "MCUCODESTART : [000000000ABCD  ]";
    std::vector<uint8_t> bytes (8192, '.');

    struct Case { size_t at; bool found; uint16_t value; bool bracket; };
    const Case cases[] = {
        { 100, true, 0xABCD, true },
        { 4096 - 32, true, 0xABCD, true },   // "]" at index 4095
        { 4096 - 31, true, 0xABCD, false },  // "]" just past the window
        { 4070, true, 0xA, false },          // the window ends the value after one character
        { 4084, true, 0, false },            // last compared letter at index 4095
        { 4085, false, 0, false },           // last compared letter past index 4095
    };

    for (const Case& c : cases)
    {
        std::vector<uint8_t> data = bytes;
        std::copy (tag.begin(), tag.end(), data.begin() + long (c.at));
        FirmwareImage source;
        source.loadBytes (data);
        ImageReader image (source);
        image.tagValue = 0x5555;

        EXPECT_EQ (image.findTag (ImageTag::McuCodeStart), c.found) << c.at;
        EXPECT_EQ (image.tagValue, c.value) << c.at;
        EXPECT_EQ (image.window.cursor, c.found ? int32_t (c.at + 31) : 0) << c.at;
        EXPECT_EQ (image.skipPastBracket(), c.bracket) << c.at;
        if (c.bracket)
        {
            EXPECT_EQ (image.window.cursor, int32_t (c.at + 32)) << c.at;
        }
    }
}

TEST_F (ImageTest, SizeTagSetsTheHeaderSizeOnly)
{
    const std::string text = "DSPHDRSTART : [000000000BEEF] SIZE : [001F4]xyz";
    FirmwareImage source;
    source.loadBytes (std::vector<uint8_t> (text.begin(), text.end()));
    ImageReader image (source);

    ASSERT_TRUE (image.findTag (ImageTag::DspHdrStart));
    EXPECT_EQ (image.tagValue, 0xBEEF);
    EXPECT_EQ (image.window.cursor, 28);

    ASSERT_TRUE (image.findTag (ImageTag::Size));
    EXPECT_EQ (image.dspHeaderSize, 0x1F4);
    EXPECT_EQ (image.tagValue, 0xBEEF);
    EXPECT_EQ (image.window.cursor, 30 + 5);

    ASSERT_TRUE (image.skipPastBracket());
    EXPECT_EQ (image.window.bytes[size_t (image.window.cursor)], 'x');

    // Not found: cursor and header size stay, a section tag's value is cleared.
    const int32_t cursor = image.window.cursor;
    EXPECT_FALSE (image.findTag (ImageTag::Size));
    EXPECT_FALSE (image.findTag (ImageTag::DspCodeStart));
    EXPECT_EQ (image.window.cursor, cursor);
    EXPECT_EQ (image.dspHeaderSize, 0x1F4);
    EXPECT_EQ (image.tagValue, 0);
}

//==============================================================================
TEST_F (ImageTest, AcceptsWellFormedImagesOfManySizes)
{
    // Section sizes around the chunk limit and the window size, where the
    // builder must pad so that every tag lies inside the transfer's window.
    const uint32_t sizes[] = { 0, 1, 488, 489, 490, 978, 979, 3607, 3608, 4096, 12345, 40000 };
    uint32_t seed = 1;
    for (uint32_t mcu : sizes)
        for (uint32_t dsp : { 1u, 489u, 3600u, 4070u, 9000u })
        {
            const uint32_t header = (seed * 97) % 1500;
            const uint32_t config = 1 + (seed * 389) % 5000;
            ImageRecipe recipe = fixtures::imageRecipe (mcu, header, dsp, config, seed++);
            TempFile file (imagebuilder::buildImage (recipe));
            EXPECT_TRUE (acceptFirmwareFile (file.path, 1))
                << "mcu " << mcu << " header " << header << " dsp " << dsp << " config " << config;
        }
}

TEST_F (ImageTest, AcceptanceFollowsTheModelAndTheSizeLimit)
{
    ImageRecipe recipe = fixtures::imageRecipe();
    TempFile rulko (imagebuilder::buildImage (recipe));
    recipe.model = "DORU-415QX";
    TempFile doru (imagebuilder::buildImage (recipe));
    recipe.totalSize = 1048575;
    TempFile largest (imagebuilder::buildImage (recipe));
    recipe.totalSize = 1048576;
    TempFile tooLarge (imagebuilder::buildImage (recipe));

    EXPECT_TRUE (acceptFirmwareFile (rulko.path, 1));
    EXPECT_FALSE (acceptFirmwareFile (rulko.path, 3));
    EXPECT_TRUE (acceptFirmwareFile (doru.path, 3));
    EXPECT_FALSE (acceptFirmwareFile (doru.path, 1));
    EXPECT_FALSE (acceptFirmwareFile (rulko.path, 0));
    EXPECT_FALSE (acceptFirmwareFile (rulko.path, 2));
    EXPECT_TRUE (acceptFirmwareFile (largest.path, 3));
    EXPECT_FALSE (acceptFirmwareFile (tooLarge.path, 3));
    EXPECT_FALSE (acceptFirmwareFile (rulko.path + ".missing", 1));

    // Accepted: the whole file is held, and a transfer's reader starts at its first byte.
    const auto accepted = acceptFirmwareFile (rulko.path, 1);
    ASSERT_NE (accepted, nullptr);
    EXPECT_EQ (accepted->size, accepted->data.size());
    ImageReader reader (*accepted);
    EXPECT_EQ (reader.window.windowPos, 0u);
    EXPECT_EQ (reader.window.cursor, 0);
    EXPECT_EQ (reader.window.bytes[0], 'K');
}

struct RefusalCase
{
    const char* name;
    std::function<void (ImageRecipe&)> change;
};

TEST_F (ImageTest, DryRunRefusesImagesTheTransferCannotSendWhole)
{
    const RefusalCase cases[] = {
        { "no MCUCODESTART", [] (ImageRecipe& s) { s.omitTag = imagebuilder::Tag::McuCodeStart; } },
        { "no DSPHDRSTART", [] (ImageRecipe& s) { s.omitTag = imagebuilder::Tag::DspHdrStart; } },
        { "no SIZE", [] (ImageRecipe& s) { s.omitTag = imagebuilder::Tag::Size; } },
        { "no DSPCODESTART", [] (ImageRecipe& s) { s.omitTag = imagebuilder::Tag::DspCodeStart; } },
        { "no CONFIGSTART", [] (ImageRecipe& s) { s.omitTag = imagebuilder::Tag::ConfigStart; } },
        { "MCU tag beyond the first window", [] (ImageRecipe& s) { s.mcuTagOffset = 4096 - 20; } },
        // A section that runs into the next tag hides it.
        { "MCU size larger than its data", [] (ImageRecipe& s) { s.declaredMcuSize = 1010u; } },
        { "header size larger than its data", [] (ImageRecipe& s) { s.declaredDspHeaderSize = 110u; } },
        { "DSP size larger than its data", [] (ImageRecipe& s) { s.declaredDspSize = 2010u; } },
        { "configuration runs into the trailer", [] (ImageRecipe& s) { s.declaredConfigSize = 301u; } },
        { "configuration far larger than the file", [] (ImageRecipe& s) { s.declaredConfigSize = 0xFFFFFFu; } },
        { "MCU far larger than the file", [] (ImageRecipe& s) { s.declaredMcuSize = 0xFFFFFFu; } },
    };

    for (const RefusalCase& c : cases)
    {
        ImageRecipe recipe = fixtures::imageRecipe();
        c.change (recipe);
        TempFile file (imagebuilder::buildImage (recipe));

        std::ifstream stream (file.path, std::ios::binary);
        ASSERT_TRUE (checkHeader (stream, "RULKO")) << c.name;   // only the walk refuses these
        EXPECT_FALSE (acceptFirmwareFile (file.path, 1)) << c.name;
    }
}

TEST_F (ImageTest, DryRunRefusesTagsTheWindowWalkCannotReach)
{
    // Without the builder's padding some layouts leave a tag straddling the end
    // of the window the transfer holds; padded, the same sections pass.
    int refused = 0;
    for (uint32_t dsp = 2380; dsp < 2480; dsp += 3)
    {
        ImageRecipe recipe = fixtures::imageRecipe (1000, 351, dsp, 300);
        recipe.alignTags = false;
        TempFile natural (imagebuilder::buildImage (recipe));
        if (! acceptFirmwareFile (natural.path, 1))
            ++refused;

        recipe.alignTags = true;
        TempFile padded (imagebuilder::buildImage (recipe));
        EXPECT_TRUE (acceptFirmwareFile (padded.path, 1)) << dsp;
    }
    EXPECT_GT (refused, 0);
}
} // namespace
