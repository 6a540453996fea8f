#pragma once
// The conversations that identify a module and read or write its configuration.
// Each runs on the worker with the job's port open and status == Running, sends
// its first command, then repeats passes (exit check, one poll, 10 ms sleep,
// countdown) until its goal (Done), the countdown (Failed) or the exit request
// (status left Running).

#include "protocol/Job.h"

#include <cstdint>

/** HCI identity probe (10 passes), then the type and version queries (200 passes). */
void detectModule (JobContext& worker);

/** Types 0xF0/0xF2: name, settings and PIN queries into DeviceState::config. */
void readDeviceConfig (JobContext& worker);

/** Type 0xF1: name record, PIN and PIN switch reads into DeviceState::hciConfig. */
void readHciConfig (JobContext& worker);

/** Types 0xF0/0xF2: writes DeviceState::config (0x35, 0x06, 0xD4, 0xD1) and waits
    for the receiver to report it runs again. Fails at once on a refusal, when a
    command stays unanswered for replyPassLimit passes, or when the restart takes
    more than writeConfigPassLimit passes. */
void writeDeviceConfig (JobContext& worker);

/** writeDeviceConfig with another limit for the restart (tests). */
void writeDeviceConfig (JobContext& worker, int32_t restartPassLimit);

/** Type 0xF1: PIN switch (twice), PIN, then name record. */
void writeHciConfig (JobContext& worker);
