#pragma once
// The system's stop requests close the window as the operator would, so
// that the shutdown steps run (the demo script stops the program this way):
// SIGTERM, SIGINT and SIGHUP (posix/StopSignals.cpp); Ctrl+C, Ctrl+Break and
// a closed console, for a window started from one (win32/StopSignals.cpp).
namespace ristova::ui {

class TFrmMain;

void CloseOnStopSignals(TFrmMain* window);

}  // namespace ristova::ui
