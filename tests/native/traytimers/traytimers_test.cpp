// The tray timers and the icon animation over a fake clock and a fake periodic timer.
#include <gtest/gtest.h>

#include <stdexcept>

#include "toolkit/exception.hpp"
#include "widgets/traytimers.hpp"

namespace {

class FakeClock : public TTickClock {
 public:
  std::uint32_t Now() const override { return now; }
  std::uint32_t now = 0;
};

// Ticks when the fake clock is advanced past each period while started.
class FakeTimer : public TPeriodicTimer {
 public:
  explicit FakeTimer(FakeClock& clock) : clock_(clock) {}
  void Start(unsigned intervalMs) override {
    running = true;
    period = intervalMs;
    due_ = clock_.now + intervalMs;
    ++starts;
  }
  void Stop() override { running = false; }

  // Moves the clock on by `ms`, ticking at each due time on the way.
  void Advance(std::uint32_t ms) {
    const std::uint32_t end = clock_.now + ms;
    // Signed distance: the clock may wrap on the way.
    while (running && static_cast<std::int32_t>(end - due_) >= 0) {
      clock_.now = due_;
      due_ += period;
      ++ticks;
      OnTick();
    }
    clock_.now = end;
  }

  bool running = false;
  unsigned period = 0;
  int starts = 0;
  int ticks = 0;

 private:
  FakeClock& clock_;
  std::uint32_t due_ = 0;
};

class TimerManagerTest : public ::testing::Test {
 protected:
  TimerManagerTest() {
    auto timer = std::make_unique<FakeTimer>(clock);
    fake = timer.get();
    manager = new TTimerManager(&root, clock, std::move(timer));
    manager->SetEnabled(true);
  }
  // A handler that records the clock when `item` fires.
  TNotifyEvent Recorder(std::vector<std::uint32_t>& times) {
    return [this, &times](TComponent*) { times.push_back(clock.now); };
  }

  FakeClock clock;
  TComponent root{nullptr};
  FakeTimer* fake = nullptr;
  TTimerManager* manager = nullptr;
};

TEST_F(TimerManagerTest, ClickTimerAloneTicksEvery150AndFiresOnTheThirdTick) {
  std::vector<std::uint32_t> fired;
  TTimerItem* click = manager->AddItem(false, 400, Recorder(fired));
  EXPECT_FALSE(fake->running);
  click->SetEnabled(true);
  EXPECT_TRUE(fake->running);
  EXPECT_EQ(fake->period, 150u);
  fake->Advance(449);
  EXPECT_TRUE(fired.empty());
  EXPECT_EQ(fake->ticks, 2);
  fake->Advance(1);
  EXPECT_EQ(fired, (std::vector<std::uint32_t>{450}));
  EXPECT_EQ(fake->ticks, 3);
}

TEST_F(TimerManagerTest, ExitTimerShortensThePeriodAndRestartsTheClickWait) {
  std::vector<std::uint32_t> clicks, exits;
  TTimerItem* click = manager->AddItem(true, 400, Recorder(clicks));
  TTimerItem* exitPoll = manager->AddItem(false, 70, Recorder(exits));
  fake->Advance(100);
  exitPoll->SetEnabled(true);
  EXPECT_EQ(fake->period, 70u);
  EXPECT_EQ(click->LastFired(), 100u);
  fake->Advance(430);
  // Waits restarted at 100: the click fires at the first 70 ms tick at or after 500.
  EXPECT_EQ(clicks, (std::vector<std::uint32_t>{520}));
  EXPECT_EQ(exits, (std::vector<std::uint32_t>{170, 240, 310, 380, 450, 520}));
}

TEST_F(TimerManagerTest, SharedTimerRunsOnlyWhileAnItemIsActive) {
  std::vector<std::uint32_t> a, b;
  TTimerItem* first = manager->AddItem(true, 400, Recorder(a));
  TTimerItem* second = manager->AddItem(true, 1000, Recorder(b));
  // Enabled but without a handler: keeps nothing running.
  TTimerItem* idle = manager->AddItem(true, 70, nullptr);
  EXPECT_EQ(fake->period, 150u);
  first->SetEnabled(false);
  EXPECT_TRUE(fake->running);
  second->SetEnabled(false);
  EXPECT_FALSE(fake->running);
  EXPECT_FALSE(manager->TimerRunning());
  fake->Advance(5000);
  EXPECT_EQ(fake->ticks, 0);
  EXPECT_TRUE(idle->Enabled());
  // Freeing the last active item stops the timer too.
  second->SetEnabled(true);
  delete second;
  EXPECT_FALSE(fake->running);
  EXPECT_EQ(manager->ItemCount(), 2u);
}

TEST_F(TimerManagerTest, AddItemSetsEnabledIntervalAndHandlerBeforeOneReschedule) {
  std::vector<std::uint32_t> fired;
  TTimerItem* item = manager->AddItem(true, 70, Recorder(fired));
  EXPECT_EQ(fake->starts, 1);
  EXPECT_EQ(fake->period, 70u);
  EXPECT_EQ(item->Owner(), manager);
  EXPECT_EQ(item->Manager(), manager);
  manager->AddItem(false, 55, Recorder(fired));
  EXPECT_EQ(fake->starts, 1);
  // Out of range: the nearest bound.
  EXPECT_EQ(manager->AddItem(false, 10, nullptr)->Interval(), 55);
  EXPECT_EQ(manager->AddItem(false, 200000, nullptr)->Interval(), 100000);
}

TEST_F(TimerManagerTest, DisabledManagerKeepsItsTimerUntilEnabledAgain) {
  std::vector<std::uint32_t> fired;
  manager->SetEnabled(false);
  TTimerItem* item = manager->AddItem(true, 400, Recorder(fired));
  EXPECT_FALSE(fake->running);
  manager->SetEnabled(true);
  EXPECT_TRUE(fake->running);
  manager->SetEnabled(false);
  item->SetEnabled(false);
  // Disabled: the reschedule did not run, the timer keeps its setting.
  EXPECT_TRUE(fake->running);
}

TEST_F(TimerManagerTest, IntervalChangeReschedulesOnlyAnEnabledItem) {
  std::vector<std::uint32_t> fired;
  TTimerItem* item = manager->AddItem(false, 400, Recorder(fired));
  item->SetInterval(100);
  EXPECT_EQ(fake->starts, 0);
  item->SetEnabled(true);
  EXPECT_EQ(fake->period, 100u);
  fake->Advance(50);
  item->SetInterval(300);
  EXPECT_EQ(fake->period, 150u);
  EXPECT_EQ(item->LastFired(), 50u);
  fake->Advance(400);
  EXPECT_EQ(fired, (std::vector<std::uint32_t>{350}));
}

TEST_F(TimerManagerTest, ElapsedTimeStaysRightAcrossTheTickCounterWrap) {
  clock.now = 0xFFFFFF00u;  // 256 ms before the wrap
  std::vector<std::uint32_t> fired;
  manager->AddItem(true, 400, Recorder(fired));
  fake->Advance(1000);
  // 450 and 900 ms after the start, both past the wrap.
  EXPECT_EQ(fired, (std::vector<std::uint32_t>{0xFFFFFF00u + 450u, 0xFFFFFF00u + 900u}));
}

TEST_F(TimerManagerTest, HandlerMayFreeAnotherItemDuringTheTick) {
  std::vector<std::uint32_t> fired;
  TTimerItem* second = nullptr;
  manager->AddItem(true, 100, [&](TComponent*) {
    delete second;
    second = nullptr;
  });
  second = manager->AddItem(true, 100, Recorder(fired));
  fake->Advance(100);
  EXPECT_TRUE(fired.empty());
  EXPECT_EQ(manager->ItemCount(), 1u);
}

// A tray icon stand-in: records what the animation shows.
class FakeHost : public TTrayIconAnimationHost {
 public:
  bool AnimationActive() const override { return active; }
  TTrayIconState AnimationState() const override { return state; }
  void AnimationFired() override {
    ++fired;
    if (failAnimation) throw std::runtime_error("handler failed");
  }
  void AnimationUpdate() override {
    if (state == tsAnimated) animation->LoadFrame(animation->CurrentFrame());
  }
  void LoadDisplayedIconFile(const std::string& path) override {
    if (path.find("missing") != std::string::npos) throw EFOpenError("Cannot open file \"" + path + "\"");
    shown.push_back(path);
  }
  bool LoadDisplayedIconResource(const std::string& name) override {
    if (name == "NONE") return false;
    shown.push_back("res:" + name);
    return true;
  }

  TTrayIconAnimation* animation = nullptr;
  bool active = true;
  TTrayIconState state = tsAnimated;
  bool failAnimation = false;
  int fired = 0;
  std::vector<std::string> shown;
};

class AnimationTest : public TimerManagerTest {
 protected:
  AnimationTest() {
    host.animation = &animation;
    animation.SetTimerItem(manager->AddItem(false, 1000, [this](TComponent*) { animation.Step(); }));
    animation.SetIcons({"a.ico", "b.ico", "c.ico"});
  }
  FakeHost host;
  TTrayIconAnimation animation{host};
};

TEST_F(AnimationTest, StartShowsFrameZeroAtOnceThenCyclesEveryInterval) {
  host.active = false;
  animation.SetInterval(450);
  EXPECT_TRUE(host.shown.empty());
  host.active = true;
  animation.Start();
  EXPECT_EQ(host.shown, (std::vector<std::string>{"a.ico"}));
  EXPECT_TRUE(animation.Running());
  EXPECT_EQ(animation.TimerItem()->Interval(), 450);
  fake->Advance(2000);
  EXPECT_EQ(host.shown, (std::vector<std::string>{"a.ico", "b.ico", "c.ico", "a.ico", "b.ico"}));
  EXPECT_EQ(host.fired, 5);
  animation.Stop();
  EXPECT_FALSE(fake->running);
}

TEST_F(AnimationTest, IntervalChangeRestartsAtFrameZeroOnlyWhileAnimating) {
  animation.Start();
  animation.Step();
  EXPECT_EQ(animation.CurrentFrame(), 2);
  animation.SetInterval(300);
  EXPECT_EQ(host.shown, (std::vector<std::string>{"a.ico", "b.ico", "a.ico"}));
  EXPECT_EQ(animation.CurrentFrame(), 1);
  EXPECT_EQ(animation.TimerItem()->Interval(), 300);

  host.state = tsEnabled;
  animation.Stop();
  animation.SetInterval(700);
  EXPECT_EQ(host.shown.size(), 3u);
  EXPECT_EQ(animation.Interval(), 700);
  EXPECT_EQ(animation.TimerItem()->Interval(), 300);
}

TEST_F(AnimationTest, NewIconListStartsOverWithoutShowing) {
  animation.Start();
  animation.Step();
  animation.SetIcons({"x.ico", "y.ico"});
  EXPECT_EQ(animation.CurrentFrame(), 0);
  EXPECT_EQ(host.shown.size(), 2u);
  animation.Step();
  EXPECT_EQ(host.shown.back(), "x.ico");
}

TEST_F(AnimationTest, UnopenableFrameIsSkippedAndTheIndexAdvances) {
  animation.SetIcons({"a.ico", "missing.ico", "c.ico"});
  animation.Start();
  animation.Step();
  EXPECT_EQ(animation.CurrentFrame(), 2);
  animation.Step();
  EXPECT_EQ(host.shown, (std::vector<std::string>{"a.ico", "c.ico"}));
  EXPECT_EQ(animation.CurrentFrame(), 0);
}

TEST_F(AnimationTest, OtherFailureLeavesTheStepWithoutAdvancing) {
  animation.Start();
  host.failAnimation = true;
  EXPECT_THROW(animation.Step(), std::runtime_error);
  EXPECT_EQ(animation.CurrentFrame(), 1);
}

TEST_F(AnimationTest, IconsInExeAreResourceNamesInUpperCase) {
  animation.SetOptions(aoIconsInExe);
  animation.SetIcons({"busy", "Busy2", "none"});
  animation.Start();
  animation.Step();
  animation.Step();
  EXPECT_EQ(host.shown, (std::vector<std::string>{"res:BUSY", "res:BUSY2"}));
  EXPECT_EQ(animation.CurrentFrame(), 0);
}

TEST_F(AnimationTest, EmptyListKeepsTheIconAndFrameZero) {
  animation.SetIcons({});
  animation.Start();
  fake->Advance(3000);
  EXPECT_TRUE(host.shown.empty());
  EXPECT_EQ(animation.CurrentFrame(), 0);
  EXPECT_EQ(host.fired, 3);
}

TEST_F(AnimationTest, StartOutsideTheAnimatedStateShowsOneStepAndStaysStopped) {
  host.state = tsEnabled;
  animation.Start();
  EXPECT_EQ(host.fired, 1);
  EXPECT_FALSE(animation.Running());
}

}  // namespace
