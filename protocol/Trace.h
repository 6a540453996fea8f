#pragma once
// One text line per packet sent or received: a label and the bytes as
// lowercase hex without separators, shown in the panel's event log.

#include <cstdint>
#include <string>

class Link;

constexpr const char* traceLabelCommand = "< Cmd: ";      // command frames and HCI commands sent
constexpr const char* traceLabelAck = "< Ack: ";          // event acknowledgements sent
constexpr const char* traceLabelEvent = "> Evt: ";        // frames received and decoded
constexpr const char* traceLabelDspHeader = "< DSPHDR: "; // long firmware frames
constexpr const char* traceLabelNote = "! ";              // what happened to the port or the job, in words

/** The trace text: label followed by "%02x" of each byte. */
std::string formatTrace (const char* label, const uint8_t* bytes, int count);

/** Posts formatTrace(...) to the link's sink while it wants lines; otherwise
    does nothing (and builds no text). */
void trace (const Link& link, const char* label, const uint8_t* bytes, int count);

/** Posts traceLabelNote and text to the link's sink while it wants lines. */
void traceNote (const Link& link, const std::string& text);
