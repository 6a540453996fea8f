#include "cli/Commands.h"

#include "cli/Output.h"
#include "cli/PortInfo.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareUpdate.h"
#include "jobs/JobDispatch.h"
#include "jobs/SettingsForm.h"
#include "jobs/TextRules.h"
#include "protocol/DeviceState.h"
#include "protocol/TraceSink.h"
#include "serial/PortTable.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
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

    /** The settings the device state holds now, for the detected type. */
    Json heldSettingsJson()
    {
        const auto type = deviceState().typeCode;
        return settingsJson (loadSettings (type, deviceState()), type);
    }

    std::string settingText (const std::string& key, const Json& value)
    {
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

    Json deviceJson()
    {
        const auto& state = deviceState();
        char code[8];
        std::snprintf (code, sizeof (code), "0x%02X", state.typeCode);

        Json d;
        d["typeCode"] = code;
        d["model"] = modelNameFor (state.typeCode);
        const auto version = versionText (state.typeCode, state.versionMajor, state.versionMinor);
        d["version"] = version.empty() ? Json() : Json (version);
        return d;
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

    int openTable (Output& out, const std::string& name, int& index)
    {
        out.doc()["port"] = name;
        enumeratePorts();
        index = addPort (name.c_str());

        if (index < 0)
            return out.finish (exitPortOpen, "\"" + name + "\" is not a serial port name (a device path, or COMn on Windows).");
        return goOn;
    }

    int detectStep (Output& out, const CommonOptions& options, int& index, bool& slowBaud)
    {
        if (const int code = openTable (out, options.port, index); code != goOn)
            return code;

        const auto result = detectDevice (index, options.family, slowBaud);
        out.doc()["family"] = slowBaud ? "zvarnelo" : "rulko";

        if (result.exitCode != exitOk)
            return out.finish (result.exitCode, result.message);

        out.doc()["device"] = deviceJson();
        return goOn;
    }

    int jobStep (Output& out, JobKind kind, int index, bool slowBaud)
    {
        const auto result = runCliJob (kind, index, slowBaud);
        return result.exitCode == exitOk ? goOn : out.finish (result.exitCode, result.message);
    }

    //==========================================================================
    // Writing settings.

    int usageError (Output& out, const std::string& text)
    {
        return out.finish (exitUsage, text);
    }

    /** Takes the settings of a read --json document (or a bare settings object). */
    int applyDocument (Output& out, WriteOptions& write)
    {
        std::ifstream in (write.fromFile, std::ios::binary);
        if (! in.is_open())
            return usageError (out, "Cannot open " + write.fromFile + ".");

        Json doc;
        try
        {
            doc = Json::parse (in);
        }
        catch (const Json::parse_error& e)
        {
            return usageError (out, write.fromFile + " is not a JSON document: " + e.what());
        }

        const Json& s = doc.contains ("settings") ? doc["settings"] : doc;
        if (! s.is_object())
            return usageError (out, write.fromFile + " holds no settings.");

        try
        {
            // Options given on the command line win over the document.
            if (s.contains ("name") && ! write.name)                       write.name = s["name"].get<std::string>();
            if (s.contains ("pin") && ! write.pin)                         write.pin = s["pin"].get<std::string>();
            if (s.contains ("stereo") && ! write.stereo)                   write.stereo = s["stereo"].get<bool>();
            if (s.contains ("maxDevices") && ! write.maxDevices)           write.maxDevices = s["maxDevices"].get<int>();
            if (s.contains ("gpoNormallyOpen") && ! write.gpoNormallyOpen) write.gpoNormallyOpen = s["gpoNormallyOpen"].get<bool>();
            if (s.contains ("led") && ! write.led)                         write.led = s["led"].get<bool>();
            if (s.contains ("frontRestore") && ! write.frontRestore)       write.frontRestore = s["frontRestore"].get<bool>();
        }
        catch (const Json::type_error& e)
        {
            return usageError (out, write.fromFile + ": a setting has the wrong type: " + e.what());
        }

        if (write.maxDevices && *write.maxDevices != 1 && *write.maxDevices != 8)
            return usageError (out, write.fromFile + ": maxDevices must be 1 or 8.");

        return goOn;
    }

    /** The form's own rules, before the receiver is asked anything. */
    int validateTexts (Output& out, const WriteOptions& write)
    {
        std::string why;
        if (write.name && ! TextRules::isValidName (*write.name))
            why += "\nname: 1 to 31 printable characters.";
        if (write.pin && ! TextRules::isValidPin (*write.pin))
            why += "\npin: four digits 0-9 (or --no-pin for none).";

        return why.empty() ? goOn : usageError (out, invalidSettingsText + why);
    }

    //==========================================================================
    // The update's progress: a bar on a terminal, plain lines otherwise, JSON
    // lines with --json.

    class ProgressReport
    {
    public:
        ProgressReport (const Output& o, uint32_t total)
            : out (o), totalBytes (total), terminal (! o.json() && ::isatty (::fileno (stdout)) != 0),
              start (std::chrono::steady_clock::now()), worker ([this] { run(); })
        {
        }

        ~ProgressReport() { finish (false); }

        void finish (bool done)
        {
            if (! running.exchange (false))
                return;
            worker.join();
            if (done)
                show (1.0);
            if (terminal)
                std::fputc ('\n', stdout);
            std::fflush (stdout);
        }

    private:
        void run()
        {
            while (running.load())
            {
                show (updateProgress().load());
                std::this_thread::sleep_for (std::chrono::milliseconds (terminal ? 100 : 50));
            }
        }

        void show (double fraction)
        {
            fraction = std::min (1.0, std::max (0.0, fraction));
            const int percent = (int) std::floor (fraction * 100.0);
            const auto bytes = (uint32_t) std::lround (fraction * totalBytes);
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
                constexpr int width = 30;
                const int filled = (int) (fraction * width);
                char bar[width + 1];
                for (int i = 0; i < width; ++i)
                    bar[i] = i < filled ? '#' : '.';
                bar[width] = '\0';
                std::printf ("\r[%s] %3d%%  %u/%u bytes  %.1f kB/s  %s   ", bar, percent, bytes, totalBytes,
                             rate / 1000.0, timeLeft (left).c_str());
                std::fflush (stdout);
            }
            else
            {
                if (percent / 10 == lastShown / 10 && lastShown >= 0)
                    return;
                std::printf ("update: %3d%%  %u/%u bytes  %.1f kB/s  %s\n", percent, bytes, totalBytes,
                             rate / 1000.0, timeLeft (left).c_str());
                std::fflush (stdout);
            }

            lastShown = percent;
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
        const uint32_t totalBytes;
        const bool terminal;
        const std::chrono::steady_clock::time_point start;
        int lastShown = -1;
        std::atomic<bool> running { true };
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
                std::puts (line.c_str());
                std::fflush (stdout);
            }
        }

    private:
        const Output& out;
        std::mutex mutex;
    };
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
        const auto info = portInfo (device);

        Json p;
        p["name"] = display;
        p["device"] = device;
        p["driver"] = info.driver.empty() ? Json() : Json (info.driver);
        p["rfcomm"] = info.rfcomm;
        if (! info.usbVendor.empty())
        {
            p["usb"] = { { "vendor", info.usbVendor }, { "product", info.usbProduct }, { "serial", info.usbSerial },
                         { "manufacturer", info.manufacturer }, { "productName", info.product } };
        }
        else
        {
            p["usb"] = nullptr;
        }
        list.push_back (p);

        std::string line = display;
        if (info.rfcomm)
            line += "  bluetooth rfcomm";
        if (! info.usbVendor.empty())
        {
            line += "  usb " + info.usbVendor + ":" + info.usbProduct;
            if (! info.product.empty())
                line += " \"" + (info.manufacturer.empty() ? "" : info.manufacturer + " ") + info.product + "\"";
            if (! info.usbSerial.empty())
                line += "  serial " + info.usbSerial;
        }
        if (! info.driver.empty())
            line += "  driver " + info.driver;
        out.line (line);
    }

    out.doc()["ports"] = list;
    return out.finish (exitOk);
}

int detectCommand (const CommonOptions& options)
{
    Output out ("detect", options.json);
    int index = -1;
    bool slow = false;

    if (const int code = detectStep (out, options, index, slow); code != goOn)
        return code;

    printDevice (out, out.doc()["device"]);
    return out.finish (exitOk);
}

int readCommand (const CommonOptions& options)
{
    Output out ("read", options.json);
    int index = -1;
    bool slow = false;

    if (const int code = detectStep (out, options, index, slow); code != goOn)
        return code;
    if (const int code = jobStep (out, JobKind::ReadConfig, index, slow); code != goOn)
        return code;

    out.doc()["settings"] = heldSettingsJson();
    printDevice (out, out.doc()["device"]);
    printSettings (out, out.doc()["settings"]);
    return out.finish (exitOk);
}

int writeCommand (const CommonOptions& options, WriteOptions write)
{
    Output out ("write", options.json);

    if (! write.fromFile.empty())
        if (const int code = applyDocument (out, write); code != goOn)
            return code;
    if (const int code = validateTexts (out, write); code != goOn)
        return code;

    int index = -1;
    bool slow = false;
    if (const int code = detectStep (out, options, index, slow); code != goOn)
        return code;
    if (const int code = jobStep (out, JobKind::ReadConfig, index, slow); code != goOn)
        return code;

    auto& state = deviceState();
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

    if (! storeSettings (type, wanted, state))
        return usageError (out, invalidSettingsText);

    // What is sent: a name longer than the receiver's field is cut at a whole character.
    const Json sent = heldSettingsJson();
    const Json from = settingsJson (before, type);

    if (const int code = jobStep (out, JobKind::WriteConfig, index, slow); code != goOn)
        return code;
    if (const int code = jobStep (out, JobKind::ReadConfig, index, slow); code != goOn)
        return code;

    const Json after = heldSettingsJson();
    Json changes = Json::array();
    std::string mismatched;

    for (const auto& [key, value] : sent.items())
    {
        const bool kept = after[key] == value;
        if (! kept)
            mismatched += std::string (mismatched.empty() ? "" : ", ") + labelOf (key);

        if (from[key] == value)
            continue;

        changes.push_back ({ { "setting", key }, { "from", from[key] }, { "to", value }, { "verified", kept } });
        out.line (std::string (labelOf (key)) + ": " + settingText (key, from[key]) + " -> " + settingText (key, value)
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

int restoreCommand (const CommonOptions& options)
{
    Output out ("restore", options.json);
    int index = -1;
    bool slow = false;

    if (const int code = detectStep (out, options, index, slow); code != goOn)
        return code;
    if (const int code = jobStep (out, JobKind::RestoreDefaults, index, slow); code != goOn)
        return code;

    // As the window does: the defaults are read back into view.
    if (const int code = jobStep (out, JobKind::ReadConfig, index, slow); code != goOn)
        return code;

    out.doc()["settings"] = heldSettingsJson();
    printSettings (out, out.doc()["settings"]);
    return out.finish (exitOk, "Device configuration is done [success]");
}

int updateCommand (const CommonOptions& options, const std::string& imagePath)
{
    Output out ("update", options.json);
    out.doc()["image"] = imagePath;
    int index = -1;
    bool slow = false;

    if (const int code = detectStep (out, options, index, slow); code != goOn)
        return code;

    // The window's panel state for the detected type picks the compatible model.
    const auto type = deviceState().typeCode;
    const int panelState = type == 0xF0 ? 1 : type == 0xF1 ? 2 : type == 0xF2 ? 3 : 0;

    if (! acceptFirmwareFile (imagePath, panelState))
        return out.finish (exitFailed, std::string (incompatibleImageText) + " (" + modelNameFor (type) + ").");

    const uint32_t total = firmwareImage().size;
    out.doc()["totalBytes"] = total;
    updateProgress() = 0.0;

    CliJob job (JobKind::UpdateFirmware, index, slow);
    {
        ProgressReport progress (out, total);
        runJob (job);
        progress.finish (job.status == JobStatus::Done && ! interrupted());
    }

    const auto result = resultOf (job);
    return out.finish (result.exitCode, result.exitCode == exitOk ? "Update firmware is done [success]" : result.message);
}

int logCommand (const CommonOptions& options)
{
    Output out ("log", options.json);
    PrintingSink sink (out);
    setTraceSink (&sink);

    int index = -1;
    bool slow = options.family == Family::zvarnelo;
    int code = goOn;

    // With a family named, listen at once at its rate; otherwise find it first.
    if (options.familyGiven && options.family != Family::automatic)
    {
        code = openTable (out, options.port, index);
        out.doc()["family"] = slow ? "zvarnelo" : "rulko";
    }
    else
    {
        code = detectStep (out, options, index, slow);
    }

    if (code == goOn)
    {
        if (! options.json)
            out.note ("listening; Ctrl-C ends");
        const auto result = runCliJob (JobKind::Listen, index, slow);
        code = out.finish (result.exitCode, result.exitCode == exitInterrupted ? std::string() : result.message);
    }

    setTraceSink (nullptr);
    return code;
}
}
