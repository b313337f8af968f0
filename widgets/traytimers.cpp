#include "widgets/traytimers.hpp"

#include <algorithm>
#include <cctype>

#include "toolkit/exception.hpp"

TTimerItem::TTimerItem(TTimerManager* manager) : TComponent(manager), manager_(manager) {}

TTimerItem::~TTimerItem() {
  Destroying();
  if (manager_ != nullptr) manager_->Forget(this);
}

void TTimerItem::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (manager_ != nullptr) manager_->Reschedule();
}

void TTimerItem::SetInterval(TTimerInterval value) {
  value = std::clamp(value, kMinTimerInterval, kMaxTimerInterval);
  if (value == interval_) return;
  interval_ = value;
  if (enabled_ && manager_ != nullptr) manager_->Reschedule();
}

TTimerManager::TTimerManager(TComponent* owner, const TTickClock& clock, std::unique_ptr<TPeriodicTimer> timer)
    : TComponent(owner), clock_(clock), timer_(std::move(timer)) {
  timer_->OnTick = [this] { Tick(); };
}

TTimerManager::~TTimerManager() {
  Destroying();
  timer_->Stop();
  running_ = false;
  // The items go with their owner, after this; they no longer reach back.
  for (TTimerItem* item : items_) item->manager_ = nullptr;
  items_.clear();
}

void TTimerManager::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (enabled_) Reschedule();
}

TTimerItem* TTimerManager::AddItem(bool enabled, TTimerInterval interval, TNotifyEvent handler) {
  auto* item = new TTimerItem(this);
  // Not yet in the list: these settings reschedule nothing on their own.
  item->SetEnabled(enabled);
  item->SetInterval(interval);
  item->OnTimer = std::move(handler);
  items_.push_back(item);
  if (item->Enabled()) Reschedule();
  return item;
}

void TTimerManager::Reschedule() {
  if (!enabled_ || HasState(csDestroying)) return;
  timer_->Stop();
  running_ = false;
  unsigned period = kMaxTimerPeriod;
  bool any = false;
  const std::uint32_t now = clock_.Now();
  for (TTimerItem* item : items_) {
    if (!item->Active()) continue;
    any = true;
    period = std::min(period, static_cast<unsigned>(item->Interval()));
    item->lastFired_ = now;
  }
  if (!any) return;
  period_ = period;
  timer_->Start(period_);
  running_ = true;
}

void TTimerManager::Tick() {
  // A handler may add, disable or free items: walk a copy and skip the freed ones.
  const std::vector<TTimerItem*> items = items_;
  for (TTimerItem* item : items) {
    if (std::find(items_.begin(), items_.end(), item) == items_.end()) continue;
    if (!item->Active()) continue;
    // Unsigned: right across the wrap of the tick counter.
    const std::uint32_t elapsed = clock_.Now() - item->lastFired_;
    if (elapsed < static_cast<std::uint32_t>(item->Interval())) continue;
    item->OnTimer(item);
    if (std::find(items_.begin(), items_.end(), item) != items_.end()) item->lastFired_ = clock_.Now();
  }
}

void TTimerManager::Forget(TTimerItem* item) noexcept {
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
  // A freed active item may have been the last one.
  if (item->Active()) Reschedule();
}

void TTrayIconAnimation::SetInterval(int value) {
  if (value == interval_) return;
  interval_ = value;
  if (Animating()) Start();
}

void TTrayIconAnimation::SetIcons(const std::vector<std::string>& icons) {
  icons_ = icons;
  if (Animating()) currentFrame_ = 0;
}

void TTrayIconAnimation::Start() {
  Stop();
  currentFrame_ = 0;
  Step();
  if (host_.AnimationState() == tsAnimated && timerItem_ != nullptr) {
    timerItem_->SetInterval(interval_);
    timerItem_->SetEnabled(true);
  }
}

void TTrayIconAnimation::Stop() {
  if (timerItem_ != nullptr) timerItem_->SetEnabled(false);
}

void TTrayIconAnimation::Step() {
  try {
    host_.AnimationFired();
    host_.AnimationUpdate();
  } catch (const EFOpenError&) {
    // The frame is skipped; the icon keeps its previous image.
  }
  const int count = static_cast<int>(icons_.size());
  if (currentFrame_ < count - 1)
    ++currentFrame_;
  else
    currentFrame_ = 0;
}

void TTrayIconAnimation::LoadFrame(int index) {
  if (index < 0 || index >= static_cast<int>(icons_.size())) return;
  const std::string& entry = icons_[static_cast<std::size_t>(index)];
  if (options_ & aoIconsAreFiles) {
    try {
      host_.LoadDisplayedIconFile(entry);
    } catch (const EFOpenError&) {
      // Skipped: the icon keeps its previous image.
    }
  } else if (options_ & aoIconsInExe) {
    std::string name = entry;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    host_.LoadDisplayedIconResource(name);
  }
}
