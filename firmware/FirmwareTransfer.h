#pragma once
// The steps of a firmware transfer: one command of the update family (opcode
// 0x49) per acknowledgement, walking the image window section by section.
// The steps hand their frames to a FrameSink, so the same walk serves the real
// transfer (frames go to the port) and the dry run that vets an image before
// it is accepted (frames go nowhere).

#include "firmware/FirmwareImage.h"

#include <cstdint>

/** Where the steps' frames go. */
class FrameSink
{
public:
    virtual ~FrameSink() = default;

    /** A short command: opcode 0x49, sub-code and parameters (count bytes), framed by the sender. */
    virtual void sendShort (const uint8_t* payload, int count) = 0;

    /** A complete DspHeader or SectionData frame, start byte through checksum. */
    virtual void sendLong (const uint8_t* frame, int length) = 0;
};

enum class TransferState : uint8_t
{
    Idle,
    SendMcuStart,
    SendMcuData,
    SendMcuEnd,
    SendDspHeader,
    SendDspData,
    SendDspEnd,
    SendConfigStart,
    SendConfigData,
    SendConfigEnd,
    SendUpdateEnd,
    SendUpdateClose
};

class FirmwareTransfer
{
public:
    /** Largest number of data bytes in one DspHeader or SectionData frame. */
    static constexpr int chunkLimit = 489;
    static constexpr int longFrameMax = chunkLimit + 13;

    explicit FirmwareTransfer (const FirmwareImage& image) : img (image) {}

    /** Resets the transfer state, rewinds the window and sends UpdateBegin. */
    void start (FrameSink& sink);

    /** Runs the step of the current state, as on an acknowledgement. False
        when the image does not allow the step (a tag or "]" missing from the
        window, section data reaching past the payload) or the state is Idle;
        nothing is sent then. */
    bool runStep (FrameSink& sink);

    TransferState state() const noexcept { return current; }

    /** The verdict taken once Idle: every phase after the MCU section ran. */
    bool phasesComplete() const noexcept { return dspHeaderStepRan && configStartStepRan && updateEndSent; }

    /** Data bytes sent so far in DspHeader and SectionData frames. */
    uint32_t totalSent() const noexcept { return sent; }

    /** totalSent over the sum of the section sizes known so far, in single precision. */
    float progress() const noexcept;

private:
    enum SectionKind : uint8_t { McuCode = 0, DspCode = 1, ConfigData = 2 };

    bool sendMcuStart (FrameSink&);
    bool sendCodeChunk (FrameSink&, SectionKind kind, TransferState endState);
    void sendMcuEnd (FrameSink&);
    bool sendDspHeader (FrameSink&);
    void sendDspEnd (FrameSink&);
    bool sendConfigStart (FrameSink&);
    bool sendConfigData (FrameSink&);

    void sendSectionEnd (FrameSink&, SectionKind kind);
    void sendBare (FrameSink&, uint8_t subCode);

    /** Copies the next n window bytes to dest, first re-aligning the window
        when they would reach past its end. False when they would reach past
        the payload. */
    bool takeChunk (uint8_t* dest, int n);
    bool sectionTag (ImageTag tag);
    int buildSectionData (SectionKind kind, int n);
    void finishLongFrame (int length);

    ImageReader img;
    TransferState current = TransferState::Idle;
    uint32_t sent = 0;
    int32_t sectionRemaining = 0;
    int32_t sectionOffset = 0;
    bool sectionStarted = false;
    bool dspHeaderStepRan = false;
    bool configStartStepRan = false;
    bool updateEndSent = false;
    uint8_t frame[longFrameMax] = {};
};

/** What a dry run of the transfer found. */
struct DryRunResult
{
    bool walkComplete = false;   // every step ran on the image: tags found, sections inside the payload
    bool phasesComplete = false; // the transfer's verdict would be Done
    int shortFrames = 0;
    int longFrames = 0;
    uint64_t wireBytes = 0;      // all frames, start byte through checksum
    uint32_t dataBytes = 0;      // image data carried in DspHeader and SectionData frames
};

/** Walks the whole transfer over image as if every command were acknowledged,
    sending nothing. */
DryRunResult dryRunTransfer (const FirmwareImage& image);
