#pragma once
// What a command prints: plain text for a person, or with --json one JSON
// document on standard output (keys in a fixed order), and the exit code.
// Output that cannot be written (a closed pipe, a full disk, a terminal that
// went away) is dropped without stopping the job, and changes the exit code.

#include <nlohmann/json.hpp>

#include <string>

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

        bool json() const noexcept { return asJson; }

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

    private:
        bool asJson;
        Json document;
    };

    /** Compact UTF-8 JSON text; invalid UTF-8 is replaced rather than thrown on. */
    std::string dumpJson (const Json& value);
}
