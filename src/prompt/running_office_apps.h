// Whether Office applications are in use anywhere on the machine, before an
// installation that would have to close them.
#pragma once

// 1 when at least one watched Office program runs, in any session and for
// any user, else 0. Every watched name is checked, each with a fresh process
// snapshot, and each one found is logged under the name as the list writes
// it, so the log names all the applications in the way.
int IsOfficeApplicationRunning();
