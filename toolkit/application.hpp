#pragma once
// The application object: its hidden window (class "TApplication"), the message
// loop, error reporting and the hand-off that lets another thread run a call on
// the GUI thread.
#include <windows.h>

#include <atomic>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/handles.hpp"
#include "toolkit/component.hpp"

class TForm;

// Handlers that several parties subscribe to, each under a key of its own.
class TNotifyEventList {
 public:
  void Add(void* key, TNotifyEvent handler);
  void Remove(void* key);
  // Runs every handler, in the order they were added.
  void Fire(TComponent* sender) const;
  std::size_t Count() const noexcept { return handlers_.size(); }

 private:
  std::vector<std::pair<void*, TNotifyEvent>> handlers_;
};

class TApplication : public TComponent {
 public:
  using MessageFilter = std::function<bool(MSG&)>;

  TApplication();
  ~TApplication() override;

  HWND Handle() const noexcept { return handle_.Get(); }
  const std::string& Title() const noexcept { return title_; }
  void SetTitle(const std::string& title);

  // Runs the message loop until Terminate; returns the WM_QUIT exit code.
  int Run();
  // Handles every message waiting in the queue, then returns.
  void ProcessMessages();
  // Waits for one message and handles it; false (and Terminated) on WM_QUIT.
  bool HandleMessage();
  // Ends Run (posts WM_QUIT).
  void Terminate();
  bool Terminated() const noexcept { return terminated_; }

  // The main form: Run shows it when ShowMainForm is set; closing it ends Run.
  TForm* MainForm() const noexcept { return mainForm_; }
  void SetMainForm(TForm* form) noexcept { mainForm_ = form; }
  bool ShowMainForm() const noexcept { return showMainForm_; }
  void SetShowMainForm(bool show) noexcept { showMainForm_ = show; }

  // Context help: WinHelpA with the main window, the help file and HELP_CONTEXT.
  const std::string& HelpFile() const noexcept { return helpFile_; }
  void SetHelpFile(const std::string& file) { helpFile_ = file; }
  bool HelpContext(int context);
  // The window that help requests and top-level dialogs speak for: the main form's, else ours.
  HWND MainWindowHandle() const;

  // Minimising and restoring the program (the main form's minimise box comes here).
  // The subscribers of OnMinimize and OnRestore are told after the change.
  void Minimize();
  void Restore();
  bool Minimized() const noexcept { return minimized_; }
  TNotifyEventList OnMinimize;
  TNotifyEventList OnRestore;

  // The standard error box: the error's message, the title as caption, stop icon, OK.
  // Only one is ever up: errors met meanwhile are collected and shown after it
  // closes, each distinct message once with the count of its repeats
  // ("... (and 41 more)"), so a flood of errors never stacks boxes.
  void HandleException(const std::exception& error);
  void ShowException(const std::string& message);
  // Shows the error from any thread without waiting: queued for the GUI thread.
  void QueueException(const std::string& message);
  // Queues, from any thread, a box whose text `takeText` gives when its turn
  // comes (nothing is shown when it gives ""): a source that keeps counting
  // while earlier boxes are up says everything in one box.
  void QueueReport(std::function<std::string()> takeText);

  // An error that escaped a document handler: box "Application Error", exit code 1.
  [[noreturn]] void FatalError(const std::string& message);

  // Runs `call` on the GUI thread and waits for it (a sent message). An exception
  // thrown by the call is caught there and rethrown in the calling thread. On the
  // GUI thread itself the call simply runs.
  void Synchronize(const std::function<void()>& call);

  // Filters see each queued message before it is dispatched (dialog keys,
  // accelerators); a filter that returns true has handled the message.
  void AddMessageFilter(void* key, MessageFilter filter);
  void RemoveMessageFilter(void* key);

  DWORD MainThreadId() const noexcept { return mainThreadId_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  bool ProcessMessage(MSG& msg);
  struct CollectedError {
    std::string message;
    std::size_t repeats = 0;
    std::function<std::string()> takeText;
  };
  // Adds an error to those waiting to be shown (a message is merged with an equal
  // one); true when it is the first one since the GUI thread was last asked to
  // show them.
  bool CollectError(CollectedError error);
  // Shows the waiting errors one box at a time, unless a box is already up.
  void ShowCollectedErrors();

  vz::win::OwnedWindow handle_;
  std::string title_;
  std::string helpFile_;
  TForm* mainForm_ = nullptr;
  bool showMainForm_ = true;
  bool minimized_ = false;
  bool terminated_ = false;
  DWORD mainThreadId_ = 0;
  std::vector<std::pair<void*, MessageFilter>> filters_;
  std::mutex errorsMutex_;
  std::deque<CollectedError> collectedErrors_;
  bool errorBoxUp_ = false;
  bool showRequested_ = false;
};

// The global application pointer. The driver channel's monitor thread reads it
// while the GUI thread may clear it, so every access is atomic.
class TApplicationPointer {
 public:
  TApplication* Get() const noexcept { return app_.load(std::memory_order_acquire); }
  operator TApplication*() const noexcept { return Get(); }
  TApplication* operator->() const noexcept { return Get(); }
  // Sets `app` only when no application is set yet.
  void SetIfEmpty(TApplication* app) noexcept {
    TApplication* none = nullptr;
    app_.compare_exchange_strong(none, app, std::memory_order_acq_rel);
  }
  // Clears the pointer only when it is `app`.
  void ClearIf(TApplication* app) noexcept {
    app_.compare_exchange_strong(app, nullptr, std::memory_order_acq_rel);
  }

 private:
  std::atomic<TApplication*> app_{nullptr};
};

// The one application object of the program (created by the program's entry point).
extern TApplicationPointer Application;

// Private messages of the application window.
inline constexpr UINT kWmSynchronize = WM_APP + 0x100;
inline constexpr UINT kWmQueuedException = WM_APP + 0x101;
