#pragma once

namespace vardelle {

// `vardelle` with no command: the accessory in the tray with its bubble, until the user quits,
// logs out or interrupts it. Builds its own QApplication from the command line; returns the
// process's exit status.
int runDesktop(int& argc, char** argv);

} // namespace vardelle
