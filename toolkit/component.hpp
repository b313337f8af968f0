#pragma once
// The component model: a component belongs to its owner and is freed with it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class TOperation { opInsert, opRemove };

class TComponent;
// An event handler that receives the component raising the event.
using TNotifyEvent = std::function<void(TComponent* sender)>;

// Component state flags.
enum TComponentStateFlag : std::uint32_t {
  csLoading = 1u << 0,
  csDesigning = 1u << 1,
  csDestroying = 1u << 2,
};

class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  // Frees the owned components, newest first, then leaves the owner's list.
  virtual ~TComponent();

  TComponent* Owner() const noexcept { return owner_; }
  const std::string& Name() const noexcept { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  std::size_t ComponentCount() const noexcept { return components_.size(); }
  TComponent* Component(std::size_t index) const { return components_.at(index); }
  TComponent* FindComponent(const std::string& name) const;

  std::uint32_t ComponentState() const noexcept { return state_; }
  bool HasState(TComponentStateFlag flag) const noexcept { return (state_ & flag) != 0; }

  // Loading: between BeginLoading and EndLoading the owner creates components and
  // sets their properties (components created meanwhile are loading too);
  // EndLoading then calls Loaded on each of them, and on the owner last.
  void BeginLoading();
  void EndLoading();

  // Marks the component as being destroyed; a most-derived destructor calls it
  // first so that late notifications can tell a half-destroyed component.
  void Destroying() noexcept;

  // Asks to be told (Notification with opRemove) when `other` is freed.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

 protected:
  // Frees the owned components, newest first (the destructor does it at the latest).
  void DestroyComponents();
  virtual void Loaded();
  // Called with opInsert/opRemove when a component is added to or removed from
  // this one's owned list, and with opRemove when a watched component is freed.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  std::uint32_t state_ = 0;
};
