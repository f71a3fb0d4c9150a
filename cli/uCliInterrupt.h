#pragma once

// Ctrl-C during a scan or a restore. The signal handler only counts, as
// nothing else is safe inside it, and asks the progress service to show its
// level at once; the terminal progress view then reads the count and
// cancels through the progress service.

// Installs the handlers: SIGINT counts one press; SIGTERM and SIGHUP (a
// script or a closed terminal ending the run) count as the second press at
// once, so the run ends without finishing the file being written.
void InstallInterruptHandler();

// How many times the user pressed Ctrl-C since the handler was installed,
// a press for each step when SIGTERM or SIGHUP came.
int InterruptCount();
