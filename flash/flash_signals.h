#pragma once
// Stop signals: SIGINT, SIGTERM and SIGHUP ask for a stop at the next record boundary; the
// second of any of them ends the program at once, by the signal's own default action.

// Installs the handlers.
void CatchStopSignals();
// True once a stop signal has come.
bool StopRequested();
