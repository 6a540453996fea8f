#pragma once
// Tests: puts every process-wide table of the protocol layer back to its
// start-up state (device state, receivers, transmit buffer).

void resetProtocolState();
