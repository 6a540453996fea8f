#pragma once
// What a command prints: plain text for a person, or with --json one JSON
// document on standard output (keys in a fixed order), and the exit code.

#include <nlohmann/json.hpp>

#include <string>

namespace korvacli
{
    using Json = nlohmann::ordered_json;

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
            on standard error when the command failed), returns exitCode. */
        int finish (int exitCode, const std::string& message = {});

    private:
        bool asJson;
        Json document;
    };

    /** Compact UTF-8 JSON text; invalid UTF-8 is replaced rather than thrown on. */
    std::string dumpJson (const Json& value);
}
