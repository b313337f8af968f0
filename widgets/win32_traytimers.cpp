#include "widgets/win32_traytimers.hpp"

#include <windows.h>

#include <exception>

#include "platform/handles.hpp"
#include "platform/windowclass.hpp"
#include "toolkit/application.hpp"
#include "toolkit/exception.hpp"

namespace {

constexpr char kTimerWindowClass[] = "TTrayTimerWindow";
constexpr UINT_PTR kTimerId = 1;

class SystemClock : public TTickClock {
 public:
  std::uint32_t Now() const override { return GetTickCount(); }
};

class WindowTimer : public TPeriodicTimer {
 public:
  WindowTimer() {
    vz::win::EnsureWindowClass(kTimerWindowClass, &WindowTimer::WindowProc);
    // A message-only window: it only receives WM_TIMER.
    window_.Reset(CreateWindowExA(0, kTimerWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr));
    if (!window_) throw Exception("Unable to create the timer window");
    SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~WindowTimer() override {
    Stop();
    SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, 0);
  }
  void Start(unsigned intervalMs) override { SetTimer(window_.Get(), kTimerId, intervalMs, nullptr); }
  void Stop() override { KillTimer(window_.Get(), kTimerId); }

 private:
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<WindowTimer*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (msg != WM_TIMER || self == nullptr || wp != kTimerId) return DefWindowProcA(wnd, msg, wp, lp);
    try {
      if (self->OnTick) self->OnTick();
    } catch (const std::exception& e) {
      if (Application != nullptr) Application->HandleException(e);
    } catch (...) {
      if (Application != nullptr) Application->ShowException("Unknown error");
    }
    return 0;
  }

  vz::win::OwnedWindow window_;
};

}  // namespace

const TTickClock& SystemTickClock() {
  static const SystemClock clock;
  return clock;
}

std::unique_ptr<TPeriodicTimer> MakeWindowTimer() { return std::make_unique<WindowTimer>(); }
