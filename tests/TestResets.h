#pragma once
// Puts the process-wide single instances back to their start-up state between
// tests. Each is defined beside its instance; only tests declare and call them.

/** serial: closes every port, empties the table and ends an interruption of port waits. */
void resetPortTable();

/** protocol: DeviceState back to its start-up values. */
void resetDeviceState();

/** protocol: DeviceState, both receivers and the transmit buffer. */
void resetProtocolState();

/** firmware: the empty image. */
void resetFirmwareImage();
