#pragma once
// What a command prints: plain text for a person, or with --json one JSON
// document on standard output (keys in a fixed order), and the exit code.
// Output that cannot be written (a closed pipe, a full disk, a terminal that
// went away) is dropped without stopping the job, and changes the exit code.

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

namespace korvacli
{
    using Json = nlohmann::ordered_json;

    /** Writes text to standard output and flushes it, whole or not at all as far
        as the caller is concerned; a failure is remembered, never thrown or
        signalled. Safe from any thread. */
    void writeStdout (const std::string& text);

    /** True once a write to standard output failed; the system's reason in why. */
    bool stdoutLost (std::string* why = nullptr);

    class Output
    {
    public:
        Output (const char* command, bool json);

        /** What a port's part of a command run on several ports shows instead of
            printing it: each line of text (prefixed by nothing: the batch knows
            the port), and the state a live display shows. */
        struct BatchView
        {
            std::function<void (const std::string& text)> line;
            std::function<void (const std::string& state)> state;
            std::function<void (const std::string& text)> note;   // said after the board, not across it
        };

        /** One port's part of a command run on several ports: its lines and
            notes name the port, its JSON lines carry it as "port", and finish()
            completes the document without printing it (the batch prints all).
            With a view, lines go to the view instead of standard output. */
        Output (const char* command, bool json, std::string port, BatchView view = {});

        bool json() const noexcept { return asJson; }

        /** The port named in lines and JSON lines; "" for a single-port command. */
        const std::string& port() const noexcept { return portName; }

        /** The step a port is at ("detecting", "updating"), for a live display of
            several ports; nothing otherwise. */
        void state (const std::string& text) const;

        /** True when a live display shows this port's state and progress. */
        bool live() const noexcept { return (bool) view.state; }

        /** The document the command fills in; printed by finish(). */
        Json& doc() noexcept { return document; }

        /** A line of text (text mode only). */
        void line (const std::string& text) const;

        /** A note for the user on standard error (both modes). */
        void note (const std::string& text) const;

        /** One JSON line printed at once (progress and trace events). */
        void event (const Json& value) const;

        /** Ends the command: prints the document (JSON) or the message (text,
            on standard error when the command failed), returns exitCode; or,
            when standard output could not be written, says so on standard
            error and returns exitOutputLost (unless the command failed anyway). */
        int finish (int exitCode, const std::string& message = {});

        /** The document with the leading keys first, as finish() prints it. */
        Json orderedDocument() const;

        /** Turns exitCode into exitOutputLost when standard output could not be
            written (unless the command failed anyway), saying so on standard error. */
        static int checkOutputLost (int exitCode);

    private:
        bool asJson;
        Json document;
        std::string portName;
        BatchView view;
    };

    /** Compact UTF-8 JSON text; invalid UTF-8 is replaced rather than thrown on. */
    std::string dumpJson (const Json& value);
}
