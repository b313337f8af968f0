#pragma once
// The tray timers on Windows: GetTickCount as the clock, a window timer of the
// calling (GUI) thread as the periodic timer.
#include <memory>

#include "widgets/traytimers.hpp"

const TTickClock& SystemTickClock();
// Ticks through the message loop of the thread that creates it; an exception
// from a tick goes to the application's error box.
std::unique_ptr<TPeriodicTimer> MakeWindowTimer();
