#pragma once
// VZNTCTL.EXE started for one test, with this program playing the fax printer
// driver and the user.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_files.hpp"
#include "tools/driverclient.hpp"

namespace vz::test {

// Reads and closes every "Information" box that appears, in order.
class BoxCloser {
 public:
  BoxCloser() : thread_([this] { Run(); }) {}
  ~BoxCloser() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  static BOOL CALLBACK CollectText(HWND child, LPARAM param) {
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") == 0) {
      char text[1024] = {};
      GetWindowTextA(child, text, sizeof text);
      auto* longest = reinterpret_cast<std::string*>(param);
      if (std::string(text).size() > longest->size()) *longest = text;
    }
    return TRUE;
  }
  void Run() {
    while (!stop_) {
      HWND box = FindWindowA("#32770", "Information");
      if (box == nullptr) {
        Sleep(20);
        continue;
      }
      std::string text;
      EnumChildWindows(box, &BoxCloser::CollectText, reinterpret_cast<LPARAM>(&text));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.push_back(text);
      }
      PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
      for (int i = 0; i < 250 && IsWindow(box); ++i) Sleep(20);
    }
  }
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::thread thread_;
};

// The controller's hidden main form, a window of class "TMainForm" in its process.
inline HWND MainFormOf(DWORD processId) {
  for (HWND wnd = FindWindowExA(nullptr, nullptr, "TMainForm", nullptr); wnd != nullptr;
       wnd = FindWindowExA(nullptr, wnd, "TMainForm", nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(wnd, &owner);
    if (owner == processId) return wnd;
  }
  return nullptr;
}

// The top-level windows of a process, one line each ("class 'title' visible"), to
// say what a controller that does not end is still showing.
struct WindowList {
  DWORD processId;
  std::string lines;
  static BOOL CALLBACK Add(HWND wnd, LPARAM param) {
    auto* list = reinterpret_cast<WindowList*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(wnd, &owner);
    if (owner != list->processId) return TRUE;
    char cls[64] = {}, title[128] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    GetWindowTextA(wnd, title, sizeof title);
    list->lines += std::string(cls) + " '" + title + "'" + (IsWindowVisible(wnd) ? " visible" : "") + "\n";
    return TRUE;
  }
};
inline std::string WindowsOf(DWORD processId) {
  WindowList list{processId, {}};
  EnumWindows(&WindowList::Add, reinterpret_cast<LPARAM>(&list));
  return list.lines;
}

// Counts the windows one process creates, through out-of-context creation events
// (delivered while the watching thread handles its messages). One watch at a time.
class WindowCreations {
 public:
  explicit WindowCreations(DWORD processId)
      : hook_(SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, &WindowCreations::OnEvent,
                              processId, 0, WINEVENT_OUTOFCONTEXT)) {
    count_ = 0;
  }
  ~WindowCreations() {
    if (hook_ != nullptr) UnhookWinEvent(hook_);
  }
  WindowCreations(const WindowCreations&) = delete;
  WindowCreations& operator=(const WindowCreations&) = delete;
  bool Watching() const { return hook_ != nullptr; }
  int Count() const { return count_; }

 private:
  static void CALLBACK OnEvent(HWINEVENTHOOK, DWORD, HWND wnd, LONG object, LONG child, DWORD, DWORD) {
    if (wnd != nullptr && object == OBJID_WINDOW && child == CHILDID_SELF) ++count_;
  }
  static inline std::atomic<int> count_{0};
  HWINEVENTHOOK hook_;
};

class ControllerEndToEndTest : public SettingsFileFixture {
 protected:
  void SetUp() override {
    SettingsFileFixture::SetUp();
    if (HasFatalFailure()) return;
    StartController();
  }
  void TearDown() override {
    if (controller_.hProcess != nullptr) {
      TerminateProcess(controller_.hProcess, 0);
      WaitForSingleObject(controller_.hProcess, 10000);
      CloseHandle(controller_.hProcess);
    }
    SettingsFileFixture::TearDown();
  }

  // A Windows path for a program the build names with '/'.
  static std::string WindowsPath(const char* built) {
    std::string path = std::string("Z:") + built;
    for (char& c : path)
      if (c == '/') c = '\\';
    return path;
  }
  static std::string ControllerPath() { return WindowsPath(VZ_CONTROLLER_EXE); }

  // Starts `program` in the scratch folder; no process (and a failure) when it cannot.
  // A process started suspended keeps its thread handle, for the caller to resume.
  PROCESS_INFORMATION StartProcess(const std::string& program, const std::string& arguments = "",
                                   DWORD creationFlags = 0) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + program + "\" " + arguments;
    if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                        root_.c_str(), &startup, &process)) {
      ADD_FAILURE() << program << " error " << GetLastError();
      return PROCESS_INFORMATION{};
    }
    if (!(creationFlags & CREATE_SUSPENDED)) {
      CloseHandle(process.hThread);
      process.hThread = nullptr;
    }
    return process;
  }

  // The program the test runs; by default the one built.
  virtual std::string ControllerProgram() { return ControllerPath(); }

  // Runs `command` in the scratch folder and waits for it; its exit code.
  DWORD RunAndWait(const std::string& program, const std::string& arguments) {
    const PROCESS_INFORMATION process = StartProcess(program, arguments);
    if (process.hProcess == nullptr) return ~0u;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return code;
  }

  void StartController() {
    const std::string program = ControllerProgram();
    if (HasFatalFailure()) return;
    controller_ = StartProcess(program);
    ASSERT_NE(controller_.hProcess, nullptr);
    for (int i = 0; i < 200; ++i) {
      if (WaitNamedPipeA(vz::driverlink::kPipeName, 50)) return;
      Sleep(50);
    }
    FAIL() << "the controller's pipe did not appear";
  }

  PROCESS_INFORMATION controller_{};
};

}  // namespace vz::test
