#include "cli/Commands.h"

#include "cli/Batch.h"
#include "cli/Console.h"
#include "cli/Output.h"
#include "cli/SettingsDocument.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/FirmwareUpdate.h"
#include "jobs/JobDispatch.h"
#include "jobs/SettingsForm.h"
#include "jobs/TextRules.h"
#include "protocol/TraceSink.h"
#include "serial/PortDescription.h"
#include "serial/PortTable.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvacli
{
namespace
{
    //==========================================================================
    // Settings as JSON and as text.

    struct SettingLabel { const char* key; const char* label; };

    const SettingLabel settingLabels[] = {
        { "name", "name" }, { "pin", "pin" }, { "stereo", "audio" }, { "maxDevices", "max-devices" },
        { "gpoNormallyOpen", "gpo" }, { "led", "led" }, { "frontRestore", "front-restore" },
    };

    const char* labelOf (const std::string& key)
    {
        for (const auto& l : settingLabels)
            if (key == l.key)
                return l.label;
        return key.c_str();
    }

    Json settingsJson (const SettingsValues& v, uint8_t typeCode)
    {
        Json s;
        s["name"] = v.name;
        s["pin"] = v.pin;

        if (typeHasFullSettings (typeCode))
        {
            s["stereo"] = v.stereo;
            s["maxDevices"] = v.singleDevice ? 1 : 8;
            s["gpoNormallyOpen"] = v.gpoNormallyOpen;
            s["led"] = v.ledControl;
            s["frontRestore"] = v.restoreControl;
        }

        return s;
    }

    /** The settings the link's device state holds now, for the detected type. */
    Json heldSettingsJson (const DeviceState& state)
    {
        return settingsJson (loadSettings (state.typeCode, state), state.typeCode);
    }

    /** A setting of a document, or null when the document lacks it. */
    Json settingIn (const Json& settings, const std::string& key)
    {
        const auto it = settings.find (key);
        return it != settings.end() ? *it : Json();
    }

    std::string settingText (const std::string& key, const Json& value)
    {
        if (value.is_null())
            return "(not read)";
        if (key == "name")
            return value.get<std::string>();
        if (key == "pin")
            return value.get<std::string>().empty() ? "(none)" : value.get<std::string>();
        if (key == "stereo")
            return value.get<bool>() ? "stereo" : "mono";
        if (key == "maxDevices")
            return std::to_string (value.get<int>());
        if (key == "gpoNormallyOpen")
            return value.get<bool>() ? "open" : "closed";
        return value.get<bool>() ? "on" : "off";
    }

    void printSettings (const Output& out, const Json& settings)
    {
        for (const auto& [key, value] : settings.items())
        {
            char line[128];
            std::snprintf (line, sizeof (line), "%-14s ", labelOf (key));
            out.line (line + settingText (key, value));
        }
    }

    void printDevice (const Output& out, const Json& device)
    {
        out.line ("type           " + device["typeCode"].get<std::string>());
        out.line ("model          " + device["model"].get<std::string>());
        if (! device["version"].is_null())
            out.line ("version        " + device["version"].get<std::string>());
    }

    //==========================================================================
    // Steps shared by the commands. Each returns -1 to go on, or the command's
    // exit code once it has finished the output.

    constexpr int goOn = -1;

    int detectStep (Output& out, Link& link, const CommonOptions& options, bool& slowBaud)
    {
        out.state ("detecting");
        const auto result = detectDevice (link, options.family, slowBaud);

        // The family is the baud rate a receiver answered at: none when nothing did.
        if (result.exitCode != exitOk)
        {
            out.doc()["family"] = nullptr;
            return out.finish (result.exitCode, result.message);
        }

        out.doc()["family"] = slowBaud ? "zvarnelo" : "rulko";
        out.doc()["device"] = deviceJson (link.device);
        return goOn;
    }

    const char* stepName (JobKind kind)
    {
        switch (kind)
        {
            case JobKind::ReadConfig:      return "reading";
            case JobKind::WriteConfig:     return "writing";
            case JobKind::RestoreDefaults: return "restoring";
            case JobKind::UpdateFirmware:  return "updating";
            case JobKind::Listen:          return "listening";
            case JobKind::Detect:          break;
        }
        return "detecting";
    }

    int jobStep (Output& out, Link& link, JobKind kind, bool slowBaud)
    {
        out.state (stepName (kind));
        const auto result = runCliJob (link, kind, slowBaud);
        return result.exitCode == exitOk ? goOn : out.finish (result.exitCode, result.message);
    }

    //==========================================================================
    // Writing settings.

    int usageError (Output& out, const std::string& text)
    {
        return out.finish (exitUsage, text);
    }

    /** Refuses a path that is not a regular file before anything opens it: a
        FIFO would block the open for good, a directory or device is no document. */
    std::string notRegularFile (const std::string& path)
    {
        std::error_code error;
        const auto status = std::filesystem::status (path, error);
        if (! std::filesystem::exists (status))
            return path + " does not exist.";
        if (! std::filesystem::is_regular_file (status))
            return path + " is not a regular file.";
        return {};
    }

    /** Takes the settings of a read --json document (or a bare settings object). */
    int applyDocument (Output& out, WriteOptions& write)
    {
        if (const auto why = notRegularFile (write.fromFile); ! why.empty())
            return usageError (out, why);

        std::ifstream in (write.fromFile, std::ios::binary);
        if (! in.is_open())
            return usageError (out, "Cannot open " + write.fromFile + ".");

        std::string text;
        text.resize (maxSettingsDocumentBytes + 1);
        in.read (text.data(), (std::streamsize) text.size());
        text.resize ((size_t) in.gcount());

        DocumentSettings doc;
        std::string why;
        if (! parseSettingsDocument (text, doc, why))
            return usageError (out, write.fromFile + ": " + why + ".");

        // Options given on the command line win over the document.
        auto take = [] (auto& option, const auto& fromDocument) { if (! option) option = fromDocument; };
        take (write.name, doc.name);
        take (write.pin, doc.pin);
        take (write.stereo, doc.stereo);
        take (write.maxDevices, doc.maxDevices);
        take (write.gpoNormallyOpen, doc.gpoNormallyOpen);
        take (write.led, doc.led);
        take (write.frontRestore, doc.frontRestore);
        return goOn;
    }

    /** The form's own rules on the options given, before the receiver is asked anything. */
    int validateOptions (Output& out, const WriteOptions& write)
    {
        // Only what was given is judged: an absent name stands in as a valid one.
        SettingsValues given;
        given.name = write.name.value_or ("x");
        given.pin = write.pin.value_or ("");
        const auto why = settingsProblems (given);
        return why.empty() ? goOn : usageError (out, std::string (invalidSettingsText) + "\n" + why);
    }

    //==========================================================================
    // The update's progress: a bar on a terminal, plain lines otherwise, JSON
    // lines with --json. With several ports a live board shows it instead on a
    // terminal, and plain lines name their port.

    class ProgressReport
    {
    public:
        /** total: the image's data bytes, which the receiver acknowledges chunk by chunk. */
        ProgressReport (const Output& o, const Link& l, uint32_t total)
            : out (o), link (l), totalBytes (std::max<uint32_t> (total, 1)),
              terminal (! o.json() && o.port().empty() && isTerminal (stdout)), start (std::chrono::steady_clock::now()), worker ([this] { run(); })
        {
        }

        ~ProgressReport() { finish (false); }

        void finish (bool done)
        {
            {
                const std::lock_guard<std::mutex> lock (mutex);
                if (! running)
                    return;
                running = false;
            }
            wake.notify_all();
            worker.join();
            if (done)
                show (totalBytes);
            if (terminal && shownWidth > 0)
                writeStdout ("\n");
        }

    private:
        void run()
        {
            std::unique_lock<std::mutex> lock (mutex);
            while (running)
            {
                lock.unlock();
                show (link.bytesAcknowledged.load());
                lock.lock();
                wake.wait_for (lock, std::chrono::milliseconds (terminal ? 100 : 50), [this] { return ! running; });
            }
        }

        void show (uint32_t bytes)
        {
            bytes = std::min (bytes, totalBytes);
            const int percent = (int) ((uint64_t) bytes * 100 / totalBytes);
            const double seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
            const double rate = seconds > 0.0 ? bytes / seconds : 0.0;
            const double left = rate > 0.0 ? (totalBytes - bytes) / rate : -1.0;

            if (out.json())
            {
                if (percent == lastShown)
                    return;
                Json e;
                e["event"] = "progress";
                e["percent"] = percent;
                e["bytes"] = bytes;
                e["totalBytes"] = totalBytes;
                e["bytesPerSecond"] = (long) std::lround (rate);
                e["secondsLeft"] = left < 0.0 ? Json() : Json ((long) std::lround (left));
                out.event (e);
            }
            else if (terminal)
            {
                showBar (percent, bytes, rate, left);
            }
            else
            {
                if (percent / 10 == lastShown / 10 && lastShown >= 0)
                    return;
                char line[160];
                std::snprintf (line, sizeof (line), "update: %3d%%  %u/%u bytes  %.1f kB/s  %s", percent, bytes,
                               totalBytes, rate / 1000.0, timeLeft (left).c_str());
                out.line (line);
            }

            lastShown = percent;
        }

        /** One line redrawn in place: it must never reach the terminal's last
            column, or the terminal wraps it and every redraw scrolls. */
        void showBar (int percent, uint32_t bytes, double rate, double left)
        {
            const int columns = std::max (terminalColumns(), 20) - 1;

            char figures[128];
            std::snprintf (figures, sizeof (figures), " %3d%%  %u/%u bytes  %.1f kB/s  %s", percent, bytes, totalBytes,
                           rate / 1000.0, timeLeft (left).c_str());
            std::string tail = figures;
            if ((int) tail.size() + 12 > columns)
            {
                std::snprintf (figures, sizeof (figures), " %3d%%  %s", percent, timeLeft (left).c_str());
                tail = figures;
            }

            const int width = std::clamp (columns - (int) tail.size() - 2, 0, 40);
            std::string text;
            if (width >= 5)
            {
                const int filled = (int) ((uint64_t) bytes * (uint64_t) width / totalBytes);
                text = "[" + std::string ((size_t) filled, '#') + std::string ((size_t) (width - filled), '.') + "]";
            }
            text += tail;
            if ((int) text.size() > columns)
                text.resize ((size_t) columns);

            // Blank what a longer earlier line left behind.
            const int shown = (int) text.size();
            if (shown < shownWidth)
                text += std::string ((size_t) (shownWidth - shown), ' ');
            shownWidth = shown;
            writeStdout ("\r" + text);
        }

        static std::string timeLeft (double seconds)
        {
            if (seconds < 0.0)
                return "--:-- left";
            const long s = std::lround (seconds);
            char text[32];
            std::snprintf (text, sizeof (text), "%ld:%02ld left", s / 60, s % 60);
            return text;
        }

        const Output& out;
        const Link& link;
        const uint32_t totalBytes;
        const bool terminal;
        const std::chrono::steady_clock::time_point start;
        int lastShown = -1;
        int shownWidth = 0;
        std::mutex mutex;
        std::condition_variable wake;
        bool running = true;
        std::thread worker;
    };

    //==========================================================================
    /** Prints trace lines as the event log shows them. */
    class PrintingSink : public TraceSink
    {
    public:
        explicit PrintingSink (const Output& o) : out (o) {}

        bool traceWanted() const override { return true; }

        void postTraceLine (std::string line) override
        {
            const std::lock_guard<std::mutex> lock (mutex);
            if (out.json())
            {
                Json e;
                e["event"] = "trace";
                e["line"] = line;
                out.event (e);
            }
            else
            {
                writeStdout (line + "\n");
            }
        }

    private:
        const Output& out;
        std::mutex mutex;
    };
}

//==============================================================================
Json deviceJson (const DeviceState& state)
{
    char code[8];
    std::snprintf (code, sizeof (code), "0x%02X", state.typeCode);

    Json d;
    d["typeCode"] = code;
    d["model"] = modelNameFor (state.typeCode);
    const auto version = versionText (state.typeCode, state.versionMajor, state.versionMinor);
    d["version"] = version.empty() ? Json() : Json (version);
    return d;
}

//==============================================================================
int portsCommand (const CommonOptions& options)
{
    Output out ("ports", options.json);
    Json list = Json::array();
    const int count = enumeratePorts();

    for (int i = 0; i < count; ++i)
    {
        const std::string display = portDisplayName (i);
        const std::string device = portDeviceName (i);
        const auto info = portDescription (i);
        const auto text = info.text();
        auto orNull = [] (const std::string& s) { return s.empty() ? Json() : Json (s); };

        Json p;
        p["name"] = display;
        p["device"] = device;
        p["description"] = orNull (text);
        p["driver"] = orNull (info.driver);
        p["rfcomm"] = info.kind == PortKind::bluetooth && device.find ("rfcomm") != std::string::npos;
        if (! info.usbVendor.empty())
        {
            p["usb"] = { { "vendor", info.usbVendor }, { "product", info.usbProduct }, { "serial", info.serialNumber },
                         { "manufacturer", info.manufacturer }, { "productName", info.product } };
        }
        else
        {
            p["usb"] = nullptr;
        }
        if (info.kind == PortKind::bluetooth)
        {
            const char* direction = info.direction == BluetoothDirection::outgoing ? "outgoing"
                                  : info.direction == BluetoothDirection::incoming ? "incoming" : nullptr;
            p["bluetooth"] = { { "direction", direction != nullptr ? Json (direction) : Json() },
                               { "address", orNull (info.remoteAddress) }, { "name", orNull (info.remoteName) } };
            if (info.paired)
            {
                p["bluetooth"]["paired"] = true;
                p["bluetooth"]["connected"] = info.connected;
            }
        }
        else
        {
            p["bluetooth"] = nullptr;
        }
        p["stableName"] = orNull (info.stableName);
        p["console"] = info.console;
        list.push_back (p);

        out.line (text.empty() ? display : display + "  " + text);
    }

    out.doc()["ports"] = list;
    return out.finish (exitOk);
}

int detectCommand (const CommonOptions& options)
{
    return runOnPorts ("detect", options.json, options.ports, [&] (Output& out, Link& link)
    {
        bool slow = false;
        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;

        printDevice (out, out.doc()["device"]);
        return out.finish (exitOk);
    });
}

int readCommand (const CommonOptions& options)
{
    return runOnPorts ("read", options.json, options.ports, [&] (Output& out, Link& link)
    {
        bool slow = false;
        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;
        if (const int code = jobStep (out, link, JobKind::ReadConfig, slow); code != goOn)
            return code;

        out.doc()["settings"] = heldSettingsJson (link.device);
        printDevice (out, out.doc()["device"]);
        printSettings (out, out.doc()["settings"]);
        return out.finish (exitOk);
    });
}

namespace
{
    /** One port's write: read, change what was given, write, read back and compare. */
    int writeOnLink (Output& out, Link& link, const CommonOptions& options, const WriteOptions& write)
    {
        bool slow = false;
        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;
        if (const int code = jobStep (out, link, JobKind::ReadConfig, slow); code != goOn)
            return code;

        auto& state = link.device;
        const auto type = state.typeCode;
        const SettingsValues before = loadSettings (type, state);
        SettingsValues wanted = before;

        if (write.name) wanted.name = *write.name;
        if (write.pin) wanted.pin = *write.pin;

        Json ignored = Json::array();
        const std::pair<const char*, bool> fullSettingsOnly[] = {
            { "stereo", write.stereo.has_value() }, { "maxDevices", write.maxDevices.has_value() },
            { "gpoNormallyOpen", write.gpoNormallyOpen.has_value() }, { "led", write.led.has_value() },
            { "frontRestore", write.frontRestore.has_value() },
        };

        if (typeHasFullSettings (type))
        {
            if (write.stereo) wanted.stereo = *write.stereo;
            if (write.maxDevices) wanted.singleDevice = *write.maxDevices == 1;
            if (write.gpoNormallyOpen) wanted.gpoNormallyOpen = *write.gpoNormallyOpen;
            if (write.led) wanted.ledControl = *write.led;
            if (write.frontRestore) wanted.restoreControl = *write.frontRestore;
        }
        else
        {
            std::string names;
            for (const auto& [key, given] : fullSettingsOnly)
                if (given)
                {
                    ignored.push_back (key);
                    names += std::string (names.empty() ? "" : ", ") + labelOf (key);
                }
            if (! names.empty())
                out.note (std::string (modelNameFor (type)) + " keeps only its name and PIN; not written: " + names + ".");
        }
        out.doc()["ignored"] = ignored;

        // Only what changes is judged: a setting the receiver holds goes back as it is,
        // even one the rules would refuse (a 32-byte name another tool wrote).
        if (const auto why = settingsProblems (wanted, &before); ! why.empty())
            return usageError (out, std::string (invalidSettingsText) + "\n" + why);
        if (! storeSettings (type, wanted, state, &before))
            return usageError (out, invalidSettingsText);

        // Compared after the read-back: what the user asked for, not what was encoded.
        const Json sent = settingsJson (wanted, type);
        const Json from = settingsJson (before, type);

        if (const int code = jobStep (out, link, JobKind::WriteConfig, slow); code != goOn)
            return code;
        if (const int code = jobStep (out, link, JobKind::ReadConfig, slow); code != goOn)
            return code;

        const Json after = heldSettingsJson (link.device);
        Json changes = Json::array();
        std::string mismatched;

        for (const auto& [key, value] : sent.items())
        {
            const Json was = settingIn (from, key);
            const bool kept = settingIn (after, key) == value;
            if (! kept)
                mismatched += std::string (mismatched.empty() ? "" : ", ") + labelOf (key);

            if (was == value)
                continue;

            changes.push_back ({ { "setting", key }, { "from", was }, { "to", value }, { "verified", kept } });
            out.line (std::string (labelOf (key)) + ": " + settingText (key, was) + " -> " + settingText (key, value)
                      + (kept ? "  (verified)" : "  (NOT kept)"));
        }

        out.doc()["changes"] = changes;
        out.doc()["verified"] = mismatched.empty();
        out.doc()["settings"] = after;

        if (! mismatched.empty())
            return out.finish (exitFailed, "Read back after the write, the receiver does not hold what was written: " + mismatched + ".");

        if (changes.empty())
            out.line ("nothing changed; the settings were written and read back unchanged");
        return out.finish (exitOk, "Device configuration is done [success]");
    }
}

int writeCommand (const CommonOptions& options, WriteOptions write)
{
    {
        Output out ("write", options.json);
        if (const int code = validateOptions (out, write); code != goOn)
            return code;
        if (! write.fromFile.empty())
            if (const int code = applyDocument (out, write); code != goOn)
                return code;
    }

    return runOnPorts ("write", options.json, options.ports, [&] (Output& out, Link& link)
    {
        return writeOnLink (out, link, options, write);
    });
}

int restoreCommand (const CommonOptions& options)
{
    return runOnPorts ("restore", options.json, options.ports, [&] (Output& out, Link& link)
    {
        bool slow = false;
        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;
        if (const int code = jobStep (out, link, JobKind::RestoreDefaults, slow); code != goOn)
            return code;

        // As the window does: the defaults are read back into view.
        if (const int code = jobStep (out, link, JobKind::ReadConfig, slow); code != goOn)
            return code;

        out.doc()["settings"] = heldSettingsJson (link.device);
        printSettings (out, out.doc()["settings"]);
        return out.finish (exitOk, "Device configuration is done [success]");
    });
}

namespace
{
    /** The image as checked for one model: nullptr when refused, and the data
        bytes its transfer carries. */
    struct CheckedImage
    {
        std::shared_ptr<const FirmwareImage> image;
        uint32_t dataBytes = 0;
    };

    /** The image, checked once per model whatever the number of receivers of that
        model, then shared read-only by their transfers. */
    class CheckedImages
    {
    public:
        explicit CheckedImages (std::string imagePath) : path (std::move (imagePath)) {}

        CheckedImage forPanelState (int panelState)
        {
            const std::lock_guard<std::mutex> lock (mutex);
            const auto known = checked.find (panelState);
            if (known != checked.end())
                return known->second;

            CheckedImage result { acceptFirmwareFile (path, panelState) };
            if (result.image != nullptr)
                result.dataBytes = dryRunTransfer (*result.image).dataBytes;
            return checked[panelState] = result;
        }

    private:
        const std::string path;
        std::mutex mutex;
        std::map<int, CheckedImage> checked;
    };

    int updateOnLink (Output& out, Link& link, const CommonOptions& options, CheckedImages& images)
    {
        out.doc()["image"] = options.image;
        bool slow = false;

        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;

        const auto type = link.device.typeCode;
        if (conversationFor (JobKind::UpdateFirmware, type) == nullptr)
            return out.finish (exitFailed, std::string ("The ") + modelNameFor (type)
                                               + " does not take firmware updates through korva.");

        // The window's panel state for the detected type picks the compatible model.
        const int panelState = type == 0xF0 ? 1 : type == 0xF2 ? 3 : 0;

        const auto checked = images.forPanelState (panelState);
        if (checked.image == nullptr)
            return out.finish (exitFailed, std::string (incompatibleImageText) + " (" + modelNameFor (type) + ").");

        link.image = checked.image;
        const uint32_t total = checked.dataBytes;
        out.doc()["totalBytes"] = total;
        link.updateProgress = 0.0;

        // Once the transfer starts, SIGTERM and SIGHUP wait for its end: a receiver
        // left half-written is worse than a late exit. Ctrl-C still stops it.
        CliJob job (JobKind::UpdateFirmware, link, slow);
        out.state ("updating");
        holdTerminationSignals (true);
        const auto transferStart = std::chrono::steady_clock::now();
        {
            std::unique_ptr<ProgressReport> progress;
            if (! out.live())
                progress = std::make_unique<ProgressReport> (out, link, total);
            runJob (job);
            if (progress != nullptr)
                progress->finish (job.status == JobStatus::Done);
        }
        holdTerminationSignals (false);
        const double seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - transferStart).count();
        out.doc()["transferSeconds"] = std::round (seconds * 1000.0) / 1000.0;
        link.image.reset();

        const auto result = resultOf (job);
        if (result.exitCode != exitOk)
            return out.finish (result.exitCode, result.message);

        // As the window does: detect again, so the user sees the version now running.
        if (heldTerminationSignal() == 0 && ! interrupted())
        {
            out.state ("detecting");
            bool slowAfter = slow;
            const auto again = detectDevice (link, slow ? Family::zvarnelo : Family::rulko, slowAfter);
            if (again.exitCode == exitOk)
            {
                out.doc()["device"] = deviceJson (link.device);
                const auto& version = out.doc()["device"]["version"];
                if (! version.is_null())
                    out.line ("version now   " + version.get<std::string>());
            }
            else
            {
                out.note ("the receiver did not answer a detection after the update; korva detect shows its version once it runs.");
            }
        }

        return out.finish (exitOk, "Update firmware is done [success]");
    }
}

int updateCommand (const CommonOptions& options)
{
    // Before the ports: a FIFO would hold the image check for good.
    if (const auto why = notRegularFile (options.image); ! why.empty())
    {
        Output out ("update", options.json);
        out.doc()["image"] = options.image;
        return usageError (out, why);
    }

    CheckedImages images (options.image);
    return runOnPorts ("update", options.json, options.ports, [&] (Output& out, Link& link)
    {
        return updateOnLink (out, link, options, images);
    });
}

int logCommand (const CommonOptions& options)
{
    if (options.ports.size() != 1)
    {
        Output out ("log", options.json);
        return usageError (out, "log listens on one port at a time.");
    }

    return runOnPorts ("log", options.json, options.ports, [&] (Output& out, Link& link)
    {
        PrintingSink sink (out);
        link.traceSink = &sink;

        bool slow = options.family == Family::zvarnelo;
        int code = goOn;

        // With a family named, listen at once at its rate; otherwise find it first.
        if (options.familyGiven && options.family != Family::automatic)
            out.doc()["family"] = slow ? "zvarnelo" : "rulko";
        else
            code = detectStep (out, link, options, slow);

        if (code == goOn)
        {
            if (! options.json)
                out.note ("listening; Ctrl-C ends");
            const auto result = runCliJob (link, JobKind::Listen, slow);
            // Ctrl-C is how a log ends: the text says nothing more, the document says why it is not ok.
            const bool quietEnd = result.exitCode == exitInterrupted && ! out.json();
            code = out.finish (result.exitCode, quietEnd ? std::string() : result.message);
        }

        link.traceSink = nullptr;
        return code;
    });
}
}
