#include "controller/justone.hpp"

#include <windows.h>

#include "controller/instance.hpp"
#include "controller/win32_desktop_env.hpp"

namespace {

std::string OwnExecutablePath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length);
}

}  // namespace

TPreviousInstance::TPreviousInstance() : TPreviousInstance(OwnExecutablePath()) {}

TPreviousInstance::TPreviousInstance(const std::string& executablePath) {
  const vz::InstanceNames names = vz::InstanceNamesFromPath(executablePath);
  name_ = names.windowTitle;
  vz::win::Handle mutex(CreateMutexA(nullptr, TRUE, names.mutexName.c_str()));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    previousInstance_ = true;
    return;  // the handle closes here
  }
  mutex_ = std::move(mutex);
}

const TPreviousInstance& PreviousInstance() {
  static const TPreviousInstance instance;
  return instance;
}

TJustOne::TJustOne(TComponent* owner) : TComponent(owner) {
  const TPreviousInstance& instance = PreviousInstance();
  if (!instance.PreviousInstance()) return;
  vz::Win32DesktopEnv desktop;
  vz::BringPreviousInstanceForward(desktop, instance.Name());
  ExitProcess(0);
}
