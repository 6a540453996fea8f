#pragma once
// The rhythm of every conversation: poll once, sleep one pass, count down.
// Time limits are counted in passes of about 10 ms.

#include "protocol/Job.h"

#include <cstdint>

/** Reply countdown armed by each receiver's reset (about 2 s). */
constexpr int32_t replyPassLimit = 200;

/** Countdown of the HCI identity probe in detectModule (about 100 ms). */
constexpr int32_t probePassLimit = 10;

/** Countdown of writeDeviceConfig (about 30 s): long enough for the receiver to
    restart after the settings, short enough that a silent receiver cannot hold
    the job for ever. */
constexpr int32_t writeConfigPassLimit = 3000;

/** Length of one pass's sleep. */
constexpr int passSleepMs = 10;

/** Sleeps one pass (10 ms). */
void sleepOnePass();

/** The countdown step: when waitTicks is not 0, decrements it and, when it has
    become 0 while status is still Running, sets status = Failed. */
void countDownPass (JobContext& worker);
