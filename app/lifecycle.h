// The main window's start-up and shutdown sequences, each a fixed order of steps. The main
// window runs them from its creation and destruction handlers (FormCreate, FormDestroy).
#ifndef QUORVEL_APP_LIFECYCLE_H_
#define QUORVEL_APP_LIFECYCLE_H_

namespace app {

class TfrmMain;

// Start-up, once the window's controls exist, in this order: the work-environment settings
// into the settings tab's boxes, then the grid's font size and caption; the window's
// placement from the settings file; the splash window, shown and held for the splash time;
// the basic database (chosen by the user when none is configured), where the program may
// end; the splash window taken down; the update check.
// An error ends the sequence at once (the caller reports it); a start-up that fails or ends
// early still takes the splash window down.
void RunStartupSequence(TfrmMain& window);

// Shutdown, with the window hidden: the work-environment settings and the placement are
// written, then the GIS application is told to close when the close option is ticked and
// start-up ran to its end. An error ends the sequence at once.
void RunShutdownSequence(TfrmMain& window);

}  // namespace app

#endif  // QUORVEL_APP_LIFECYCLE_H_
