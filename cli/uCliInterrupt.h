#pragma once

// Ctrl-C during a scan or a restore. The signal handler only counts, as
// nothing else is safe inside it; the terminal progress view reads the count
// at its next notification and cancels through the progress service.

// Installs the handler for SIGINT (and SIGTERM, which scripts send).
void InstallInterruptHandler();

// How many times the user pressed Ctrl-C since the handler was installed.
int InterruptCount();
