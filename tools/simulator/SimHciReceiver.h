#pragma once
// The HCI receiver (type 0xF1): its settings live in a 2048-byte memory that the
// tool reads and writes with vendor HCI commands (0xFC29 read, 0xFC27 write).

#include "tools/simulator/SimReplies.h"
#include "tools/simulator/SimulatedReceiver.h"

#include <cstdint>
#include <vector>

namespace korvasim
{

class SimHciReceiver
{
public:
    static constexpr int memorySize = 2048;

    /** Memory as shipped: the identity "MCHP" and the factory settings. */
    explicit SimHciReceiver (const StoredSettings& factory);

    /** Back to the memory as shipped. */
    void reset();

    /** Writes the name record, the PIN and the PIN switch. */
    void writeSettings (const StoredSettings& s);

    /** The settings as the memory holds them; the rest from the factory settings. */
    StoredSettings settings() const;

    /** Bytes from location on, cut at the end of memory. */
    std::vector<uint8_t> read (uint16_t location, int count) const;
    void write (uint16_t location, const std::vector<uint8_t>& bytes);

    /** Acts on an HCI command and answers it with Command Complete. */
    void command (uint16_t opcode, const std::vector<uint8_t>& params, SimReplies& out);

private:
    StoredSettings factory;
    uint8_t memory[memorySize] = {};
};

} // namespace korvasim
