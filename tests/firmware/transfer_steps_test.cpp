// The transfer's steps against a recording sink: which frames go out, in what
// order, with what bytes, for images built at test time.

#include "FirmwareFixtures.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using imagebuilder::ImageRecipe;

namespace
{
struct SentFrame
{
    bool isLong;
    std::vector<uint8_t> bytes;   // short: opcode and parameters; long: the whole frame
};

class RecordingSink : public FrameSink
{
public:
    void sendShort (const uint8_t* payload, int count) override { frames.push_back ({ false, { payload, payload + count } }); }
    void sendLong (const uint8_t* frame, int length) override { frames.push_back ({ true, { frame, frame + length } }); }
    std::vector<SentFrame> frames;
};

uint32_t be (const std::vector<uint8_t>& b, size_t at, int width)
{
    uint32_t v = 0;
    for (int i = 0; i < width; ++i)
        v = v << 8 | b[at + size_t (i)];
    return v;
}

/** Short commands as "49 05 00" style names, long frames as "SD0:489" / "HDR:100". */
std::string describe (const SentFrame& f)
{
    if (f.isLong)
    {
        if (f.bytes[4] == 0x02)
            return "HDR:" + std::to_string (be (f.bytes, 9, 2));
        return "SD" + std::to_string (f.bytes[5]) + ":" + std::to_string (be (f.bytes, 10, 2));
    }
    static const char* const names[] = { "Begin", "McuStart", "?", "ConfigStart", "?", "End", "UpdateEnd", "Close" };
    std::string s = names[f.bytes[1] & 7];
    if (f.bytes[1] == 0x05)
        s += std::to_string (f.bytes[2]);
    return s;
}

struct Walk
{
    std::vector<SentFrame> frames;
    bool completed = false;
    bool phasesComplete = false;
    float lastProgress = 0;
};

Walk walk (const ImageRecipe& recipe)
{
    FirmwareImage image;
    image.loadBytes (imagebuilder::buildImage (recipe));
    FirmwareTransfer transfer (image);
    RecordingSink sink;
    Walk w;
    transfer.start (sink);
    bool ok = true;
    while (ok && transfer.state() != TransferState::Idle)
        ok = transfer.runStep (sink);
    w.frames = sink.frames;
    w.completed = ok;
    w.phasesComplete = transfer.phasesComplete();
    w.lastProgress = transfer.progress();
    return w;
}

std::string sequence (const Walk& w)
{
    std::string s;
    for (const SentFrame& f : w.frames)
        s += (s.empty() ? "" : " ") + describe (f);
    return s;
}

class TransferStepsTest : public ::testing::Test
{
protected:

};

//==============================================================================
TEST_F (TransferStepsTest, ChunkingPerSection)
{
    struct Case { uint32_t mcu, header, dsp, config; const char* frames; bool done; };
    const Case cases[] = {
        { 978, 10, 5, 7, "Begin McuStart SD0:489 SD0:489 End0 HDR:10 SD1:5 End1 ConfigStart SD2:7 End2 UpdateEnd Close", true },
        { 979, 10, 5, 7, "Begin McuStart SD0:489 SD0:489 SD0:1 End0 HDR:10 SD1:5 End1 ConfigStart SD2:7 End2 UpdateEnd Close", true },
        { 0, 0, 978, 489, "Begin McuStart SD0:0 End0 HDR:0 SD1:489 SD1:489 End1 ConfigStart SD2:489 SD2:0 End2 UpdateEnd Close", true },
        { 1, 490, 1, 978, "Begin McuStart SD0:1 End0 HDR:489 HDR:1 SD1:1 End1 ConfigStart SD2:489 SD2:489 SD2:0 End2 UpdateEnd Close", true },
        { 5, 3, 0, 7, "Begin McuStart SD0:5 End0 ConfigStart SD2:7 End2 UpdateEnd Close", false },
        { 5, 3, 6, 0, "Begin McuStart SD0:5 End0 HDR:3 SD1:6 End1 UpdateEnd Close", false },
    };

    for (const Case& c : cases)
    {
        const Walk w = walk (fixtures::imageRecipe (c.mcu, c.header, c.dsp, c.config));
        EXPECT_TRUE (w.completed);
        EXPECT_EQ (sequence (w), c.frames);
        EXPECT_EQ (w.phasesComplete, c.done) << c.frames;
    }
}

TEST_F (TransferStepsTest, FramesCarryTheImageBytes)
{
    const ImageRecipe recipe = fixtures::imageRecipe (12345, 1100, 20000, 1500, 11);
    const Walk w = walk (recipe);
    ASSERT_TRUE (w.completed);
    EXPECT_TRUE (w.phasesComplete);
    EXPECT_FLOAT_EQ (w.lastProgress, 1.0f);

    // UpdateBegin: 49 00, then the three sizes big-endian.
    const std::vector<uint8_t> begin { 0x49, 0x00, 0, 0, 0x30, 0x39, 0, 0, 0x4E, 0x20, 0, 0, 0x05, 0xDC };
    EXPECT_EQ (w.frames[0].bytes, begin);
    EXPECT_EQ (w.frames[1].bytes, (std::vector<uint8_t> { 0x49, 0x01, 0x1A, 0x2B }));

    std::vector<uint8_t> sections[3], header;
    for (const SentFrame& f : w.frames)
    {
        if (! f.isLong)
        {
            if (f.bytes[1] == 0x03)
            {
                EXPECT_EQ (f.bytes, (std::vector<uint8_t> { 0x49, 0x03, 0x70, 0x81 }));
            }
            continue;
        }

        const std::vector<uint8_t>& b = f.bytes;
        uint8_t sum = 0;
        for (size_t i = 1; i < b.size(); ++i)
            sum = uint8_t (sum + b[i]);
        EXPECT_EQ (sum, 0) << "checksum";
        EXPECT_EQ (b[0], 0xAA);
        EXPECT_EQ (b[3], 0x49);
        EXPECT_EQ (be (b, 1, 2), b.size() - 4) << "length field";

        if (b[4] == 0x02)
        {
            EXPECT_EQ (be (b, 5, 2), 0x3C4Du);
            EXPECT_EQ (be (b, 7, 2), 1100u);
            const uint32_t n = be (b, 9, 2);
            ASSERT_EQ (b.size(), n + 12);
            header.insert (header.end(), b.begin() + 11, b.end() - 1);
        }
        else
        {
            ASSERT_EQ (b[4], 0x04);
            ASSERT_LE (b[5], 2);
            const uint32_t n = be (b, 10, 2);
            ASSERT_EQ (b.size(), n + 13);
            std::vector<uint8_t>& section = sections[b[5]];
            EXPECT_EQ (be (b, 6, 4), section.size()) << "offset counts from 0 in each section";
            section.insert (section.end(), b.begin() + 12, b.end() - 1);
        }
    }

    EXPECT_EQ (sections[0], recipe.mcuCode);
    EXPECT_EQ (header, recipe.dspHeader);
    EXPECT_EQ (sections[1], recipe.dspCode);
    EXPECT_EQ (sections[2], recipe.config);
}

TEST_F (TransferStepsTest, IdleAndFaultingStepsSendNothing)
{
    ImageRecipe recipe = fixtures::imageRecipe (600, 10, 20, 30);
    recipe.omitTag = imagebuilder::Tag::DspCodeStart;
    FirmwareImage image;
    image.loadBytes (imagebuilder::buildImage (recipe));

    FirmwareTransfer transfer (image);
    RecordingSink sink;
    transfer.start (sink);
    while (transfer.state() != TransferState::SendDspHeader)
        ASSERT_TRUE (transfer.runStep (sink));

    // The last header frame is held back when the DSP code tag is missing.
    const size_t before = sink.frames.size();
    EXPECT_FALSE (transfer.runStep (sink));
    EXPECT_EQ (sink.frames.size(), before);

    FirmwareTransfer idle (image);
    EXPECT_EQ (idle.state(), TransferState::Idle);
    EXPECT_FALSE (idle.runStep (sink));
    EXPECT_EQ (sink.frames.size(), before);
}

TEST_F (TransferStepsTest, DryRunCountsTheFrames)
{
    FirmwareImage image;
    image.loadBytes (imagebuilder::buildImage (fixtures::imageRecipe (979, 10, 5, 489)));
    const DryRunResult r = dryRunTransfer (image);
    EXPECT_TRUE (r.walkComplete);
    EXPECT_TRUE (r.phasesComplete);
    EXPECT_EQ (r.longFrames, 3 + 1 + 1 + 2);
    EXPECT_EQ (r.shortFrames, 8);
    EXPECT_EQ (r.wireBytes, uint64_t (979 + 10 + 5 + 489) + 7 * 13 - 1 + (18 + 8 + 7 + 8 + 7 + 7 + 6 + 6));

    // The walk reads the image through a reader of its own: a second gives the same.
    const DryRunResult again = dryRunTransfer (image);
    EXPECT_EQ (again.wireBytes, r.wireBytes);
    EXPECT_EQ (again.dataBytes, r.dataBytes);
}
} // namespace
