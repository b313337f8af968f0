#pragma once
// Plays the user from a helper thread while the GUI thread runs its message loop
// (a modal form, a message box, or PumpUntilDone). Every wait is bounded: on a
// timeout the robot records the failure and runs its escape action (for example
// closing the modal form) so that the GUI thread gets control back.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "toolkit/application.hpp"

namespace robot {

inline constexpr int kDefaultTimeoutMs = 5000;

// Polls `condition` every 10 ms until it holds or the time is up.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = kDefaultTimeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(10);
  }
  return true;
}

// A visible top-level window of this class (null: any) and title.
inline HWND FindVisible(const char* windowClass, const char* title) {
  HWND wnd = FindWindowA(windowClass, title);
  return wnd != nullptr && IsWindowVisible(wnd) ? wnd : nullptr;
}

inline void SendMouse(DWORD flags) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = flags;
  SendInput(1, &in, sizeof(in));
}

// Puts the cursor on a screen point and reports the move.
inline void MoveMouse(POINT p) {
  SetCursorPos(p.x, p.y);
  SendMouse(MOUSEEVENTF_MOVE);
}
inline void LeftDown() { SendMouse(MOUSEEVENTF_LEFTDOWN); }
inline void LeftUp() { SendMouse(MOUSEEVENTF_LEFTUP); }

inline void Key(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof(in));
}

// Alt held while `letter` is typed.
inline void AltLetter(char letter) {
  Key(VK_MENU, false);
  Key(static_cast<WORD>(letter), false);
  Key(static_cast<WORD>(letter), true);
  Key(VK_MENU, true);
}

// The screen colour at a point (the X server's pixels under Wine).
inline COLORREF ScreenPixel(POINT p) {
  HDC dc = GetDC(nullptr);
  const COLORREF c = GetPixel(dc, p.x, p.y);
  ReleaseDC(nullptr, dc);
  return c;
}

// Evaluates `query` on the GUI thread (a sent message, answered while that
// thread handles messages), so the robot reads the GUI's state without a race.
template <typename T>
T OnGuiThread(const std::function<T()>& query) {
  T result{};
  Application->Synchronize([&] { result = query(); });
  return result;
}

// Tells when the GUI thread has handled everything posted to a window before
// Post. Lives on the GUI thread; the robot calls Post and reads Reached.
class QueueMarker {
 public:
  QueueMarker() {
    Application->AddMessageFilter(this, [this](MSG& msg) {
      if (msg.message != kMarker || msg.lParam != reinterpret_cast<LPARAM>(this)) return false;
      reached_ = true;
      return true;
    });
  }
  QueueMarker(const QueueMarker&) = delete;
  QueueMarker& operator=(const QueueMarker&) = delete;
  ~QueueMarker() { Application->RemoveMessageFilter(this); }

  void Post(HWND wnd) {
    reached_ = false;
    PostMessageA(wnd, kMarker, 0, reinterpret_cast<LPARAM>(this));
  }
  bool Reached() const { return reached_; }

 private:
  static constexpr UINT kMarker = WM_APP + 0x3A1;
  std::atomic<bool> reached_{false};
};

class Robot {
 public:
  using Script = std::function<void(Robot&)>;

  // Starts `script` on a new thread; `escape` runs there if a step fails.
  Robot(Script script, std::function<void()> escape = nullptr) : escape_(std::move(escape)) {
    thread_ = std::thread([this, script = std::move(script)] {
      try {
        script(*this);
      } catch (const std::exception& e) {
        Fail(e.what());
      }
      done_ = true;
      if (Application != nullptr) PostMessageA(Application->Handle(), WM_NULL, 0, 0);
    });
  }
  Robot(const Robot&) = delete;
  Robot& operator=(const Robot&) = delete;
  ~Robot() { Join(); }

  // Waits for `condition`; on timeout records `what`, escapes and returns false.
  bool Expect(const std::function<bool()>& condition, const std::string& what, int timeoutMs = kDefaultTimeoutMs) {
    if (WaitFor(condition, timeoutMs)) return true;
    Fail("timed out waiting for " + what);
    return false;
  }
  // Waits for a visible top-level window; null (after escaping) on timeout.
  HWND WaitForWindow(const char* windowClass, const char* title, int timeoutMs = kDefaultTimeoutMs) {
    HWND found = nullptr;
    Expect([&] { return (found = FindVisible(windowClass, title)) != nullptr; },
           std::string("window \"") + (title ? title : "") + "\"", timeoutMs);
    return found;
  }

  void Fail(const std::string& why) {
    {
      std::lock_guard lock(mutex_);
      if (!failure_.empty()) failure_ += "; ";
      failure_ += why;
    }
    if (escape_) escape_();
  }

  bool Done() const { return done_; }
  bool Ok() {
    std::lock_guard lock(mutex_);
    return failure_.empty();
  }
  std::string Failure() {
    std::lock_guard lock(mutex_);
    return failure_;
  }

  // Runs the GUI thread's messages until the script has finished (bounded).
  bool PumpUntilDone(int timeoutMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done_) {
      if (std::chrono::steady_clock::now() > end) {
        Fail("the script did not finish");
        return false;
      }
      Application->ProcessMessages();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    Application->ProcessMessages();
    return true;
  }

  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::function<void()> escape_;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::mutex mutex_;
  std::string failure_;
};

// Runs the GUI thread's messages for a while (lets posted work and painting happen).
inline void Pump(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    Application->ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  } while (std::chrono::steady_clock::now() < end);
}

}  // namespace robot
