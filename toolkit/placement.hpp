#pragma once
// Where the toolkit puts a window it places itself (a form centred on the screen or
// over the main form): centred over a reference rectangle, then moved so that the
// whole window lies inside the work area (the screen less the taskbar) of the
// monitor it lands on. A window that cannot reach its title bar cannot be moved.
#include <windows.h>

class TForm;

// A rectangle `width` x `height` centred over `over`; halves round toward zero.
RECT CentredOver(const RECT& over, int width, int height);
// `r` moved, not resized, into `work`; one wider or taller than `work` goes to its
// left or top edge, so its title bar and close box stay reachable.
RECT KeptInside(const RECT& r, const RECT& work);
// The work area of the monitor `r` lies most on (the nearest one when it lies on
// none).
RECT WorkAreaOf(const RECT& r);
// The primary monitor's work area.
RECT PrimaryWorkArea();
// Whether a window can serve as a reference to centre over: it exists, is visible,
// is not minimised and lies at least partly on a monitor.
bool PlacesOthers(HWND wnd);
// The rectangle a window stands for as a reference: the work area of its monitor
// when it is maximised, else its own rectangle.
RECT ReferenceRect(HWND wnd);
// The one placement: `form` centred over `over` and kept inside the work area of
// the monitor it lands on.
void PlaceCentredOver(TForm& form, const RECT& over);
