// korva: the command-line front end on the same job layer as the window.
// Arguments are parsed here; each command (or family of commands) has a file of its own.

#include "cli/Commands.h"
#include "cli/Scan.h"
#include "protocol/DebugOutput.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace
{
    using namespace korvacli;

    const char* const exitCodesText =
        "Exit codes: 0 success, 2 usage, 3 the port cannot be opened, 4 no receiver answered,\n"
        "5 the receiver refused, 6 failed or interrupted, 7 the output could not be written, 130 Ctrl-C.\n"
        "With several ports: 0 when every port succeeded, else the code of the first port (in the order given) that did not.\n"
        "Without PORT: the one receiver a scan finds; none or several end with 2 and the list.";

    struct Switch
    {
        std::string value;
        CLI::Option* option = nullptr;
        std::optional<bool> get (const char* yes) const
        {
            if (option == nullptr || option->count() == 0)
                return std::nullopt;
            return value == yes;
        }
    };

    Switch addSwitch (CLI::App* command, const char* name, const char* yes, const char* no, const char* help)
    {
        Switch s;
        s.option = command->add_option (name, s.value, help)->check (CLI::IsMember ({ yes, no }));
        return s;
    }
}

int main (int argc, char** argv)
{
    CLI::App app ("korva: configures and updates Korva Bluetooth audio receivers over a serial port.", "korva");
    app.footer (exitCodesText);
    app.set_version_flag ("--version", "korva " KORVA_VERSION);
    app.require_subcommand (1, 1);
    app.fallthrough();
    app.allow_windows_style_options (false);   // a device path starts with a slash

    CommonOptions common;
    std::string family = "auto";
    app.add_flag ("--json", common.json, "print one JSON document on standard output");

    auto portArguments = [&] (CLI::App* command)
    {
        command->add_option ("PORT", common.ports, "device paths, COMn on Windows, bt:ADDRESS for a paired Bluetooth receiver on Linux; several run at once; "
                                                   "none: the one receiver a scan finds");
    };
    auto familyOption = [&] (CLI::App* command)
    {
        command->add_option ("--family", family, "zvarnelo (115200 baud), rulko (921600 baud) or auto (default)")
            ->check (CLI::IsMember ({ "zvarnelo", "rulko", "auto" }));
    };

    auto* ports = app.add_subcommand ("ports", "list the serial ports");

    bool scanAll = false;
    auto* scan = app.add_subcommand ("scan", "probe every port (and any PORT named) at both families' rates and list the receivers found");
    scan->add_option ("PORT", common.ports, "ports to probe besides those listed (a console is probed only when named)");
    scan->add_flag ("--all", scanAll, "list the ports where nothing answered too");
    scan->add_option ("--skip", common.skip, "never probe this port (a console or a device another program drives; "
                                             "Windows cannot tell a console); repeatable")
        ->allow_extra_args (false);

    auto* detect = app.add_subcommand ("detect", "detect the receiver on each PORT: type, model, version");
    portArguments (detect);
    familyOption (detect);

    auto* read = app.add_subcommand ("read", "detect and read every setting");
    portArguments (read);
    familyOption (read);

    WriteOptions write;
    std::string name, pin;
    bool noPin = false, stereo = false, mono = false;
    int maxDevices = 8;
    auto* writeCommandApp = app.add_subcommand ("write", "validate, write the settings given, read back and compare");
    portArguments (writeCommandApp);
    familyOption (writeCommandApp);
    auto* nameOption = writeCommandApp->add_option ("--name", name, "receiver name, 1 to 31 bytes of UTF-8 (one byte per ASCII character, two to four for others)");
    auto* pinOption = writeCommandApp->add_option ("--pin", pin, "four-digit PIN");
    auto* noPinOption = writeCommandApp->add_flag ("--no-pin", noPin, "no PIN");
    pinOption->excludes (noPinOption);
    auto* stereoOption = writeCommandApp->add_flag ("--stereo", stereo, "stereo (L, R)");
    auto* monoOption = writeCommandApp->add_flag ("--mono", mono, "mono (L+R)");
    stereoOption->excludes (monoOption);
    auto* maxOption = writeCommandApp->add_option ("--max-devices", maxDevices, "paired devices: 1 or 8")
                          ->check (CLI::IsMember ({ 1, 8 }));
    const auto gpo = addSwitch (writeCommandApp, "--gpo", "open", "closed", "relay output: normally open or closed");
    const auto led = addSwitch (writeCommandApp, "--led", "on", "off", "LED control");
    const auto frontRestore = addSwitch (writeCommandApp, "--front-restore", "on", "off", "restore from the front button");
    writeCommandApp->add_option ("--from", write.fromFile, "take the settings from a document written by read --json");

    auto* restore = app.add_subcommand ("restore", "restore the factory defaults and wait for the restart");
    portArguments (restore);
    familyOption (restore);

    std::vector<std::string> updateArguments;
    auto* update = app.add_subcommand ("update", "check IMAGE against each receiver and update its firmware (PORT... IMAGE)");
    familyOption (update);
    update->add_option ("PORT... IMAGE", updateArguments, "ports (none: the one receiver a scan finds), then the firmware image (.bin)")
        ->required();

    auto* log = app.add_subcommand ("log", "print every frame in the event log's format until Ctrl-C; each event is acknowledged, as the receiver expects");
    portArguments (log);
    familyOption (log);

    try
    {
        app.parse (argc, argv);
    }
    catch (const CLI::ParseError& e)
    {
        const int code = app.exit (e);
        return code == 0 ? exitOk : exitUsage;
    }

    common.family = family == "zvarnelo" ? Family::zvarnelo : family == "rulko" ? Family::rulko : Family::automatic;
    common.familyGiven = family != "auto";

    // Developer diagnostics would mix with what the user reads.
    setDebugOutputEnabled (false);
    installInterruptHandling();

    if (*ports)
        return portsCommand (common);
    if (*scan)
        return scanCommand (common, scanAll);

    if (*update)
    {
        common.image = updateArguments.back();
        updateArguments.pop_back();
        common.ports = updateArguments;
    }

    if (*writeCommandApp)
    {
        if (nameOption->count() > 0) write.name = name;
        if (pinOption->count() > 0) write.pin = pin;
        if (noPin) write.pin = std::string();
        if (stereo) write.stereo = true;
        if (mono) write.stereo = false;
        if (maxOption->count() > 0) write.maxDevices = maxDevices;
        write.gpoNormallyOpen = gpo.get ("open");
        write.led = led.get ("on");
        write.frontRestore = frontRestore.get ("on");
        if (const int code = prepareWrite (common, write); code >= 0)
            return code;
    }
    if (*update)
        if (const int code = prepareUpdate (common); code >= 0)
            return code;

    // Everything checkable is checked: only now is any port scanned or contacted.
    if (common.ports.empty())
    {
        const char* command = (*detect) ? "detect" : (*read) ? "read" : (*restore) ? "restore"
                         : (*update) ? "update" : (*log) ? "log" : "write";
        if (const int code = useOnlyReceiver (command, common); code >= 0)
            return code;
    }

    if (*detect)
        return detectCommand (common);
    if (*read)
        return readCommand (common);
    if (*restore)
        return restoreCommand (common);
    if (*update)
        return updateCommand (common);
    if (*log)
        return logCommand (common);

    return writeCommand (common, write);
}
