#pragma once
// The single-instance rule. TPreviousInstance takes the mutex named after the
// program's file; TJustOne, created before anything else, hands over to the copy
// already running and ends this one.
#include <string>

#include "platform/handles.hpp"
#include "toolkit/component.hpp"

class TPreviousInstance {
 public:
  // Looks at the program's own file name and takes the mutex.
  TPreviousInstance();
  explicit TPreviousInstance(const std::string& executablePath);

  // The file name without ".EXE": the title of the window to bring forward.
  const std::string& Name() const noexcept { return name_; }
  bool PreviousInstance() const noexcept { return previousInstance_; }

 private:
  std::string name_;
  // Held until the program ends.
  vz::win::Handle mutex_;
  bool previousInstance_ = false;
};

// The process's single-instance record, made on first use.
const TPreviousInstance& PreviousInstance();

class TJustOne : public TComponent {
 public:
  // With a copy already running: brings it forward and ends the program at once
  // (exit code 0). Otherwise does nothing.
  explicit TJustOne(TComponent* owner);
};
