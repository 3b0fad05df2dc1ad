#pragma once
// vd_kvt with windows: the login window, then the main window.

namespace kvt::qt {

// True when there is a screen to show windows on: an X11 or Wayland display,
// or a Qt platform named explicitly (QT_QPA_PLATFORM, e.g. "offscreen").
bool displayDisponibile();

// Makes the process ready for the windows after the toolkit is started: the
// C library's number and date formats stay those of the "C" locale, which
// the core expects (the workstation's formats come from the workstation
// seam); the character set stays the environment's.
void ripristinaLocale();

// Runs the program with windows until the login window closes; the exit
// status. The command line holds no command option (at most --program-dir).
int avviaFinestre(int argc, char** argv);

}  // namespace kvt::qt
