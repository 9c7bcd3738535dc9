// The program's start-up and run modes.
#pragma once

// Runs the whole program and returns its exit code.
int RunOfficeInstaller();
