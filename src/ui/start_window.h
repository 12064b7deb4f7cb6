// The last steps of the window program's start, in their order: the frame
// is shown in its placement, the greeting is put into the status bar and
// painted, and on the first run the Quick Start question is asked, centred
// on the frame (its parent) once the frame is on the screen. Yes opens the
// Quick Start help as Help > "&Quick Start" does, so a browser that cannot
// be started says so in a warning.
//
// GUI thread only.
#pragma once

namespace quindelo::ui {

class MainFrame;

// show_state: 1 normal, 2 minimized, 3 maximized (ChooseShowState of
// app/startup.h). ask_quick_start: ClaimQuickStartQuestion() said so. The
// question is asked from the event loop, after the frame has been exposed;
// this call does not wait for it.
void ShowStartedFrame(MainFrame* frame, int show_state, bool ask_quick_start);

}  // namespace quindelo::ui
