// OfficeInstaller.exe: a windowless program; all it says goes to the agent log
// and its exit code.
#include <windows.h>

#include "driver/entry.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunOfficeInstaller(); }
