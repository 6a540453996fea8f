// korva-sim: a simulated receiver on a pseudo-terminal, for trying the tool
// without hardware. Prints the pty's path, then one line per frame in the tool's
// trace format as the tool would see it: "< Cmd: ", "< Ack: " and "< DSPHDR: " for
// what the tool sent, "> Evt: " for what the receiver answered (HCI events included).

#include "tools/simulator/SimulatedReceiver.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace
{
volatile std::sig_atomic_t stopRequested = 0;

void onSignal (int)
{
    stopRequested = 1;
}

void usage()
{
    std::printf (
        "usage: korva-sim [options]\n"
        "  --type f0|f1|f2          receiver type (default f0)\n"
        "  --link PATH              symlink to the pty (e.g. /tmp/ttyKORVA)\n"
        "  --listen PATH            no pty: serve each connection to the Unix socket PATH\n"
        "                           in turn, as a receiver reached over Bluetooth\n"
        "  --name NAME              device name (default Rulko)\n"
        "  --pin DDDD               PIN, or 'none' (default 0000)\n"
        "  --version MAJ.MIN        firmware version bytes in hex (default 1.05)\n"
        "  --restart-ms N           restart time after 0x02/0xD1 (default 300)\n"
        "  --silent                 answer nothing\n"
        "  --silent-after N         answer N frames, then nothing\n"
        "  --stall                  read nothing: the tool's writes back up and block\n"
        "  --stall-after N          read and answer N frames, then read nothing\n"
        "  --vanish-after N         close the pty as the Nth frame arrives (N >= 1)\n"
        "  --vanish-on SUB[:NTH]    close the pty as the NTH (default 1st) 0x49 command\n"
        "                           with sub-code SUB (hex) arrives, e.g. 04:3\n"
        "  --refuse OP[:STATUS[:SUB]]  refuse a command (hex), e.g. 35:01 or 49:01:07\n"
        "  --bad-checksum           send frames with a wrong checksum\n"
        "  --split                  write frames in pieces\n"
        "  --garbage                write noise between frames\n"
        "  --delay-ms N             wait before each answer\n"
        "  --wire-speed             pace bytes at the line's baud rate\n"
        "  --any-baud               answer at any baud rate\n"
        "  --paired N               send N paired-device records once a tool has spoken\n"
        "  --stream-events RATE     send RATE unsolicited status events (0x01, state 0) a\n"
        "                           second while a tool has the port open, from the moment\n"
        "                           it opens it (types f0 and f2)\n");
}

bool parseHexByte (const char* text, unsigned& value)
{
    char* end = nullptr;
    value = static_cast<unsigned> (std::strtoul (text, &end, 16));
    return end != text && value <= 0xFF;
}

/** A count or time in decimal, from 0 up; exits with a message otherwise. */
int parseCount (const std::string& option, const char* text)
{
    char* end = nullptr;
    const long value = std::strtol (text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 1'000'000'000)
    {
        std::fprintf (stderr, "korva-sim: %s takes a number, not '%s'\n", option.c_str(), text);
        std::exit (2);
    }
    return static_cast<int> (value);
}
}

int main (int argc, char** argv)
{
    korvasim::SimulatorOptions options;
    struct Refusal { unsigned op, status; int sub; };
    std::vector<Refusal> refusals;
    bool silent = false, badChecksum = false, split = false, garbage = false, wire = false, anyBaud = false;
    bool stall = false;
    int delayMs = 0, paired = 0, streamRate = 0;
    int silentAfter = -1, stallAfter = -1, vanishAfter = -1; // -1: not asked for
    int vanishSub = -1, vanishNth = 1;

    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&]() -> const char*
        {
            if (i + 1 >= argc)
            {
                std::fprintf (stderr, "korva-sim: %s needs a value\n", arg.c_str());
                std::exit (2);
            }
            return argv[++i];
        };

        if (arg == "--type")
        {
            const std::string t = value();
            options.type = t == "f1" ? 0xF1 : t == "f2" ? 0xF2 : t == "f0" ? 0xF0 : 0;
            if (options.type == 0)
            {
                std::fprintf (stderr, "korva-sim: unknown type %s\n", t.c_str());
                return 2;
            }
        }
        else if (arg == "--link")        options.linkPath = value();
        else if (arg == "--listen")      options.listenPath = value();
        else if (arg == "--name")        options.factory.name = value();
        else if (arg == "--restart-ms")  options.restartDelayMs = parseCount (arg, value());
        else if (arg == "--delay-ms")    delayMs = parseCount (arg, value());
        else if (arg == "--paired")      paired = parseCount (arg, value());
        else if (arg == "--stream-events") streamRate = parseCount (arg, value());
        else if (arg == "--silent")      silent = true;
        else if (arg == "--silent-after") silentAfter = parseCount (arg, value());
        else if (arg == "--stall")       stall = true;
        else if (arg == "--stall-after") stallAfter = parseCount (arg, value());
        else if (arg == "--vanish-after")
        {
            vanishAfter = parseCount (arg, value());
            if (vanishAfter < 1)
            {
                std::fprintf (stderr, "korva-sim: --vanish-after counts from 1\n");
                return 2;
            }
        }
        else if (arg == "--vanish-on")
        {
            const std::string vanishOn = value();
            unsigned sub = 0;
            const size_t colon = vanishOn.find (':');
            if (! parseHexByte (vanishOn.c_str(), sub))
            {
                std::fprintf (stderr, "korva-sim: bad --vanish-on %s\n", vanishOn.c_str());
                return 2;
            }
            vanishSub = static_cast<int> (sub);
            if (colon != std::string::npos)
                vanishNth = std::max (1, parseCount (arg, vanishOn.c_str() + colon + 1));
        }
        else if (arg == "--bad-checksum") badChecksum = true;
        else if (arg == "--split")       split = true;
        else if (arg == "--garbage")     garbage = true;
        else if (arg == "--wire-speed")  wire = true;
        else if (arg == "--any-baud")    anyBaud = true;
        else if (arg == "--pin")
        {
            const std::string pin = value();
            if (pin == "none")
                options.factory.pin = { { 0, 0, 0, 0 } };
            else if (pin.size() == 4)
                for (int k = 0; k < 4; ++k)
                    options.factory.pin[static_cast<size_t> (k)] = static_cast<uint8_t> (pin[static_cast<size_t> (k)]);
            else
            {
                std::fprintf (stderr, "korva-sim: --pin takes 4 digits or 'none'\n");
                return 2;
            }
        }
        else if (arg == "--version")
        {
            unsigned major = 0, minor = 0;
            if (std::sscanf (value(), "%x.%x", &major, &minor) != 2 || major > 0xFF || minor > 0xFF)
            {
                std::fprintf (stderr, "korva-sim: --version takes MAJ.MIN in hex\n");
                return 2;
            }
            options.versionMajor = static_cast<uint8_t> (major);
            options.versionMinor = static_cast<uint8_t> (minor);
        }
        else if (arg == "--refuse")
        {
            const std::string refusal = value();
            Refusal r { 0, 1, -1 };
            unsigned sub = 0;
            const size_t c1 = refusal.find (':');
            if (! parseHexByte (refusal.c_str(), r.op)
                || (c1 != std::string::npos && ! parseHexByte (refusal.c_str() + c1 + 1, r.status)))
            {
                std::fprintf (stderr, "korva-sim: bad --refuse %s\n", refusal.c_str());
                return 2;
            }
            const size_t c2 = c1 == std::string::npos ? c1 : refusal.find (':', c1 + 1);
            if (c2 != std::string::npos)
            {
                // A sub-code that does not parse must not widen the refusal to every sub-code.
                if (! parseHexByte (refusal.c_str() + c2 + 1, sub))
                {
                    std::fprintf (stderr, "korva-sim: bad --refuse %s\n", refusal.c_str());
                    return 2;
                }
                r.sub = static_cast<int> (sub);
            }
            refusals.push_back (r);
        }
        else if (arg == "--help" || arg == "-h")
        {
            usage();
            return 0;
        }
        else
        {
            std::fprintf (stderr, "korva-sim: unknown option %s\n", arg.c_str());
            usage();
            return 2;
        }
    }

    korvasim::SimulatedReceiver sim (options);
    sim.setLogger ([] (const std::string& line)
    {
        std::printf ("%s\n", line.c_str());
        std::fflush (stdout);
    });
    sim.setSilent (silent);
    sim.setCorruptChecksum (badChecksum);
    sim.setSplitWrites (split);
    sim.setGarbageBetweenFrames (garbage);
    sim.setReplyDelayMs (delayMs);
    sim.setWireSpeed (wire);
    sim.setIgnoreBaud (anyBaud);
    sim.setStallReads (stall);
    sim.streamEvents (streamRate);
    if (silentAfter >= 0)
        sim.silentAfterFrames (silentAfter);
    if (stallAfter >= 0)
        sim.stallAfterFrames (stallAfter);
    if (vanishAfter >= 1)
        sim.vanishAfterFrames (vanishAfter);
    if (vanishSub >= 0)
        sim.vanishOnFirmware (static_cast<uint8_t> (vanishSub), vanishNth);
    for (const auto& r : refusals)
        sim.refuse (static_cast<uint8_t> (r.op), static_cast<uint8_t> (r.status), r.sub);

    std::signal (SIGINT, onSignal);
    std::signal (SIGTERM, onSignal);

    if (! sim.start())
    {
        std::fprintf (stderr, "korva-sim: cannot create a pseudo-terminal\n");
        return 1;
    }
    std::printf ("%s\n", sim.portPath().c_str());
    std::fflush (stdout);

    size_t violationsShown = 0;
    bool pairedSent = paired <= 0;
    while (stopRequested == 0)
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
        if (! pairedSent && ! sim.receivedFrames().empty())
        {
            sim.injectPairedRecords (paired);
            pairedSent = true;
        }
        const auto violations = sim.violations();
        for (; violationsShown < violations.size(); ++violationsShown)
            std::fprintf (stderr, "violation: %s\n", violations[violationsShown].c_str());
    }
    sim.stop();
    return 0;
}
