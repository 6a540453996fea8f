#pragma once
// Puts the port table, the one process-wide list of ports, back to its
// start-up state between tests. Defined beside the table; only tests declare
// and call it.

/** serial: closes every port, empties the table and ends an interruption of port waits. */
void resetPortTable();
