#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/component.hpp"

namespace {

std::vector<std::string> journal;

// Records its life and the notifications it receives.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, const std::string& name) : TComponent(owner) { SetName(name); }
  ~Probe() override {
    Destroying();
    journal.push_back("free " + Name());
  }
  TComponent* watched = nullptr;
  bool loadingSeenInLoaded = true;
  int loadedCalls = 0;

 protected:
  void Loaded() override {
    ++loadedCalls;
    loadingSeenInLoaded = HasState(csLoading);
    journal.push_back("loaded " + Name());
  }
  void Notification(TComponent* component, TOperation operation) override {
    if (operation == TOperation::opRemove && component == watched) {
      watched = nullptr;
      journal.push_back(Name() + " forgets " + component->Name());
    }
  }
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { journal.clear(); }
};

}  // namespace

TEST_F(ComponentTest, OwnerFreesItsComponentsNewestFirst) {
  auto* form = new Probe(nullptr, "Form");
  auto* a = new Probe(form, "A");
  new Probe(form, "B");
  new Probe(a, "A1");
  EXPECT_EQ(form->ComponentCount(), 2u);
  EXPECT_EQ(a->Owner(), form);
  EXPECT_EQ(form->FindComponent("B")->Name(), "B");
  EXPECT_EQ(form->FindComponent("A1"), nullptr);  // only direct components
  EXPECT_EQ(form->FindComponent(""), nullptr);
  delete form;
  EXPECT_EQ(journal, (std::vector<std::string>{"free Form", "free B", "free A", "free A1"}));
}

TEST_F(ComponentTest, FreeingAComponentLeavesItsOwnersList) {
  Probe form(nullptr, "Form");
  auto* a = new Probe(&form, "A");
  new Probe(&form, "B");
  delete a;
  ASSERT_EQ(form.ComponentCount(), 1u);
  EXPECT_EQ(form.Component(0)->Name(), "B");
}

TEST_F(ComponentTest, LoadedRunsAfterAllPropertiesAreSet) {
  Probe form(nullptr, "Form");
  auto* a = new Probe(&form, "A");
  auto* b = new Probe(&form, "B");
  form.BeginLoading();
  EXPECT_TRUE(form.HasState(csLoading));
  EXPECT_TRUE(a->HasState(csLoading));
  auto* late = new Probe(&form, "Late");  // created while the form loads
  EXPECT_TRUE(late->HasState(csLoading));
  EXPECT_EQ(a->loadedCalls, 0);
  form.EndLoading();
  EXPECT_EQ(journal, (std::vector<std::string>{"loaded A", "loaded B", "loaded Late", "loaded Form"}));
  EXPECT_FALSE(late->HasState(csLoading));
  EXPECT_FALSE(a->loadingSeenInLoaded);
  EXPECT_FALSE(b->HasState(csLoading));
  EXPECT_FALSE(form.HasState(csLoading));
  EXPECT_EQ(form.loadedCalls, 1);
  // Components created afterwards are not loading.
  EXPECT_FALSE((new Probe(&form, "After"))->HasState(csLoading));
}

TEST_F(ComponentTest, WatcherForgetsAFreedComponentInAnotherOwner) {
  Probe form(nullptr, "Form");
  auto* button = new Probe(&form, "Button");
  auto* menu = new Probe(nullptr, "Menu");
  button->watched = menu;
  button->FreeNotification(menu);
  delete menu;
  EXPECT_EQ(button->watched, nullptr);
  EXPECT_EQ(journal, (std::vector<std::string>{"free Menu", "Button forgets Menu"}));
}

TEST_F(ComponentTest, WatchingEndsWhenEitherSideGoes) {
  auto* menu = new Probe(nullptr, "Menu");
  {
    Probe button(nullptr, "Button");
    button.watched = menu;
    button.FreeNotification(menu);
  }
  // The watcher is gone: freeing the menu must not reach it.
  delete menu;
  EXPECT_EQ(journal, (std::vector<std::string>{"free Button", "free Menu"}));

  journal.clear();
  Probe button(nullptr, "Button");
  auto* other = new Probe(nullptr, "Other");
  button.watched = other;
  button.FreeNotification(other);
  button.RemoveFreeNotification(other);
  delete other;
  EXPECT_EQ(button.watched, other);  // no longer told (the pointer is stale, never used)
  EXPECT_EQ(journal, (std::vector<std::string>{"free Other"}));
}

namespace {
bool ownerWasDestroying = false;
struct Child : TComponent {
  using TComponent::TComponent;
  ~Child() override { ownerWasDestroying = Owner() != nullptr && Owner()->HasState(csDestroying); }
};
}  // namespace

TEST_F(ComponentTest, DestroyingStateIsSetBeforeOwnedComponentsGo) {
  ownerWasDestroying = false;
  auto* form = new Probe(nullptr, "Form");
  new Child(form);
  EXPECT_FALSE(form->HasState(csDestroying));
  delete form;
  EXPECT_TRUE(ownerWasDestroying);
}
