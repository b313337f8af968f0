#pragma once
// The tray icon's timers and its icon animation.
//
// Any number of TTimerItem share one periodic timer of their TTimerManager: the
// shared timer ticks every min(150 ms, smallest active interval) and runs only
// while at least one item is active (enabled and with a handler), so an idle tray
// icon costs nothing. At each tick an item fires when its interval has passed
// since it last fired or was last rescheduled.
//
// Elapsed times are differences of the 32-bit millisecond tick counter taken in
// unsigned arithmetic, so they stay right when the counter wraps (every 49.7 days).
//
// This part is portable: the clock and the periodic timer are interfaces, with a
// window timer of the GUI thread behind them on Windows (widgets/win32_traytimers.hpp).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/component.hpp"

// The system's millisecond tick counter.
class TTickClock {
 public:
  virtual ~TTickClock() = default;
  virtual std::uint32_t Now() const = 0;
};

// One periodic timer; while started it calls OnTick every `intervalMs`.
class TPeriodicTimer {
 public:
  virtual ~TPeriodicTimer() = default;
  virtual void Start(unsigned intervalMs) = 0;
  virtual void Stop() = 0;
  std::function<void()> OnTick;
};

// Milliseconds, 55..100000: setting a value outside the range stores the nearest bound.
using TTimerInterval = int;
inline constexpr TTimerInterval kMinTimerInterval = 55;
inline constexpr TTimerInterval kMaxTimerInterval = 100000;
// The shared timer never waits longer than this between ticks.
inline constexpr unsigned kMaxTimerPeriod = 150;

class TTimerManager;

class TTimerItem : public TComponent {
 public:
  ~TTimerItem() override;

  bool Enabled() const noexcept { return enabled_; }
  // A change reschedules the manager.
  void SetEnabled(bool value);
  TTimerInterval Interval() const noexcept { return interval_; }
  // A change reschedules the manager while the item is enabled.
  void SetInterval(TTimerInterval value);
  // Sender is the item.
  TNotifyEvent OnTimer;

  // Enabled and with a handler: only such items keep the shared timer running.
  bool Active() const noexcept { return enabled_ && static_cast<bool>(OnTimer); }
  std::uint32_t LastFired() const noexcept { return lastFired_; }
  TTimerManager* Manager() const noexcept { return manager_; }

 private:
  friend class TTimerManager;
  explicit TTimerItem(TTimerManager* manager);

  bool enabled_ = false;
  TTimerInterval interval_ = 1000;
  std::uint32_t lastFired_ = 0;
  TTimerManager* manager_;
};

class TTimerManager : public TComponent {
 public:
  // `clock` must outlive the manager; the manager owns `timer` and stops it when it goes.
  TTimerManager(TComponent* owner, const TTickClock& clock, std::unique_ptr<TPeriodicTimer> timer);
  ~TTimerManager() override;

  bool Enabled() const noexcept { return enabled_; }
  // A change to true reschedules.
  void SetEnabled(bool value);

  // A new item owned by the manager: Enabled, then Interval, then the handler are
  // set, the item is appended, and the manager reschedules if the item is enabled.
  TTimerItem* AddItem(bool enabled, TTimerInterval interval, TNotifyEvent handler);

  // Recomputes the shared timer from the active items and restarts the wait of
  // every active item. Does nothing while the manager is disabled.
  void Reschedule();
  // One tick of the shared timer: fires, in list order, each active item whose
  // interval has passed.
  void Tick();

  // The shared timer as last set: running or not, and its period.
  bool TimerRunning() const noexcept { return running_; }
  unsigned TimerPeriod() const noexcept { return period_; }
  std::size_t ItemCount() const noexcept { return items_.size(); }
  const TTickClock& Clock() const noexcept { return clock_; }

 private:
  friend class TTimerItem;
  void Forget(TTimerItem* item) noexcept;

  const TTickClock& clock_;
  std::unique_ptr<TPeriodicTimer> timer_;
  std::vector<TTimerItem*> items_;
  bool enabled_ = false;
  bool running_ = false;
  unsigned period_ = kMaxTimerPeriod;
};

// The three looks of a tray icon.
enum TTrayIconState { tsEnabled, tsDisabled, tsAnimated };

// Where the frames of an animation come from.
enum TTrayIconAnimationOption : unsigned { aoIconsInExe = 1, aoIconsAreFiles = 2 };
using TTrayIconAnimationOptions = unsigned;

// What the animation needs from its tray icon.
class TTrayIconAnimationHost {
 public:
  virtual ~TTrayIconAnimationHost() = default;
  virtual bool AnimationActive() const = 0;                  // the icon is in the tray
  virtual TTrayIconState AnimationState() const = 0;         // the icon's State
  virtual void AnimationFired() = 0;                         // fires OnAnimation
  virtual void AnimationUpdate() = 0;                        // UpdateTrayIcon
  // Load the displayed icon. A file that cannot be opened raises EFOpenError;
  // a resource that does not exist returns false.
  virtual void LoadDisplayedIconFile(const std::string& path) = 0;
  virtual bool LoadDisplayedIconResource(const std::string& name) = 0;
};

// Cycles the tray icon through a list of icons (files or icon resources of the program).
class TTrayIconAnimation {
 public:
  explicit TTrayIconAnimation(TTrayIconAnimationHost& host) : host_(host) {}

  int Interval() const noexcept { return interval_; }
  // A change while the icon is active and animated restarts the animation at frame 0.
  void SetInterval(int value);
  const std::vector<std::string>& Icons() const noexcept { return icons_; }
  // A new list while the icon is active and animated starts over at frame 0
  // (shown at the next step).
  void SetIcons(const std::vector<std::string>& icons);
  TTrayIconAnimationOptions Options() const noexcept { return options_; }
  void SetOptions(TTrayIconAnimationOptions options) noexcept { options_ = options; }
  // The frame that the next step shows.
  int CurrentFrame() const noexcept { return currentFrame_; }

  // The tray icon hands over the timer item that drives the steps.
  void SetTimerItem(TTimerItem* item) noexcept { timerItem_ = item; }
  TTimerItem* TimerItem() const noexcept { return timerItem_; }
  bool Running() const noexcept { return timerItem_ != nullptr && timerItem_->Enabled(); }

  // Shows frame 0 at once, then (while the icon's state is tsAnimated) the next
  // frame every Interval.
  void Start();
  void Stop();
  // Fires OnAnimation, shows the current frame and advances, wrapping to frame 0.
  // A frame file that cannot be opened is skipped; any other failure leaves at
  // once, without advancing.
  void Step();
  // Loads frame `index` into the displayed icon; an index past the list, a file
  // that cannot be opened or a missing resource leaves the icon unchanged.
  void LoadFrame(int index);

 private:
  bool Animating() const { return host_.AnimationActive() && host_.AnimationState() == tsAnimated; }

  TTrayIconAnimationHost& host_;
  int interval_ = 1000;
  std::vector<std::string> icons_;
  TTrayIconAnimationOptions options_ = aoIconsAreFiles;
  int currentFrame_ = 0;
  TTimerItem* timerItem_ = nullptr;
};
