// The program's start-up and run modes.
#pragma once

// Runs the whole program and returns its exit code. Never throws: an
// unexpected failure is logged and ends the run with 13. The agent log is
// closed on every way out.
int RunOfficeInstaller();
