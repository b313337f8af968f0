#include "toolkit/application.hpp"

#include <algorithm>

#include "common/text.hpp"
#include "platform/windowclass.hpp"
#include "toolkit/dialogs.hpp"
#include "toolkit/exception.hpp"
#include "toolkit/forms.hpp"

TApplicationPointer Application;

namespace {

constexpr char kWindowClass[] = "TApplication";

struct SyncRequest {
  const std::function<void()>* call;
  std::exception_ptr error;
};

void RegisterApplicationClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  wc.hIcon = LoadIconA(instance, "MAINICON");
  if (!vz::win::EnsureWindowClass(wc)) throw Exception("Unable to register the application window class");
}

}  // namespace

TApplication::TApplication() : TComponent(nullptr), mainThreadId_(GetCurrentThreadId()) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterApplicationClass(instance, &TApplication::WindowProc);
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path);
  const auto slash = name.find_last_of("\\:");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  title_ = name;
  // A popup that is never shown: the owner of the program's message boxes and the
  // target of messages sent from other threads.
  HWND wnd = CreateWindowExA(0, kWindowClass, title_.c_str(),
                             WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                             0, 0, 0, 0, nullptr, nullptr, instance, this);
  if (wnd == nullptr) throw Exception("Unable to create the application window");
  handle_.Reset(wnd);
  Application.SetIfEmpty(this);
}

TApplication::~TApplication() {
  Destroying();
  // The forms and components go first, while the window and the global pointer
  // they use are still there: the driver channel's thread stops with them.
  DestroyComponents();
  Application.ClearIf(this);
  if (handle_) SetWindowLongPtrA(handle_.Get(), GWLP_USERDATA, 0);
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  SetWindowTextA(handle_.Get(), title_.c_str());
}

LRESULT CALLBACK TApplication::WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TApplication*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(wnd, msg, wp, lp);
  try {
    return self->OnMessage(wnd, msg, wp, lp);
  } catch (const std::exception& e) {
    self->HandleException(e);
  } catch (...) {
    self->ShowException("Unknown error");
  }
  return 0;
}

LRESULT TApplication::OnMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kWmSynchronize: {
      auto* request = reinterpret_cast<SyncRequest*>(lp);
      try {
        (*request->call)();
      } catch (...) {
        request->error = std::current_exception();
      }
      return 0;
    }
    case kWmQueuedException:
      ShowCollectedErrors();
      return 0;
    default:
      return DefWindowProcA(wnd, msg, wp, lp);
  }
}

bool TApplication::ProcessMessage(MSG& msg) {
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return false;
  }
  // A filter may remove itself or others while it runs: walk a copy.
  const auto filters = filters_;
  for (const auto& [key, filter] : filters)
    if (filter(msg)) return true;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

int TApplication::Run() {
  if (mainForm_ != nullptr && showMainForm_) mainForm_->Show();
  MSG msg;
  while (!terminated_) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      terminated_ = true;
      return static_cast<int>(msg.wParam);
    }
    try {
      ProcessMessage(msg);
    } catch (const std::exception& e) {
      HandleException(e);
    }
  }
  return 0;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    try {
      ProcessMessage(msg);
    } catch (const std::exception& e) {
      HandleException(e);
    }
  }
}

bool TApplication::HandleMessage() {
  MSG msg;
  const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
  if (got == 0 || got == -1) {
    terminated_ = true;
    // Leave the quit for the outer loop too, so Run ends after a modal loop does.
    if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  try {
    ProcessMessage(msg);
  } catch (const std::exception& e) {
    HandleException(e);
  }
  return true;
}

HWND TApplication::MainWindowHandle() const {
  if (mainForm_ != nullptr && mainForm_->Handle() != nullptr) return mainForm_->Handle();
  return handle_.Get();
}

bool TApplication::HelpContext(int context) {
  if (helpFile_.empty()) return false;
  return WinHelpA(MainWindowHandle(), helpFile_.c_str(), HELP_CONTEXT, static_cast<ULONG_PTR>(context)) != FALSE;
}

void TApplication::Minimize() {
  if (minimized_) return;
  minimized_ = true;
  if (mainForm_ != nullptr && mainForm_->Handle() != nullptr && IsWindowVisible(mainForm_->Handle()))
    ShowWindow(mainForm_->Handle(), SW_MINIMIZE);
  OnMinimize.Fire(this);
}

void TApplication::Restore() {
  if (!minimized_) return;
  minimized_ = false;
  if (mainForm_ != nullptr && mainForm_->Handle() != nullptr && IsIconic(mainForm_->Handle()))
    ShowWindow(mainForm_->Handle(), SW_RESTORE);
  OnRestore.Fire(this);
}

void TNotifyEventList::Add(void* key, TNotifyEvent handler) { handlers_.emplace_back(key, std::move(handler)); }

void TNotifyEventList::Remove(void* key) {
  handlers_.erase(std::remove_if(handlers_.begin(), handlers_.end(),
                                 [key](const auto& entry) { return entry.first == key; }),
                  handlers_.end());
}

void TNotifyEventList::Fire(TComponent* sender) const {
  const auto handlers = handlers_;
  for (const auto& [key, handler] : handlers)
    if (handler) handler(sender);
}

void TApplication::Terminate() {
  PostQuitMessage(0);
}

void TApplication::HandleException(const std::exception& error) {
  ShowException(error.what());
}

void TApplication::ShowException(const std::string& message) {
  CollectError(CollectedError{message, 0, {}});
  ShowCollectedErrors();
}

void TApplication::QueueException(const std::string& message) {
  if (CollectError(CollectedError{message, 0, {}})) PostMessageA(handle_.Get(), kWmQueuedException, 0, 0);
}

void TApplication::QueueReport(std::function<std::string()> takeText) {
  if (CollectError(CollectedError{std::string(), 0, std::move(takeText)}))
    PostMessageA(handle_.Get(), kWmQueuedException, 0, 0);
}

bool TApplication::CollectError(CollectedError error) {
  std::lock_guard lock(errorsMutex_);
  auto same = std::find_if(collectedErrors_.begin(), collectedErrors_.end(), [&](const CollectedError& e) {
    return !e.takeText && !error.takeText && e.message == error.message;
  });
  if (same != collectedErrors_.end())
    ++same->repeats;
  else
    collectedErrors_.push_back(std::move(error));
  const bool first = !showRequested_;
  showRequested_ = true;
  return first;
}

void TApplication::ShowCollectedErrors() {
  {
    std::lock_guard lock(errorsMutex_);
    showRequested_ = false;
    // The box's own message loop brings us here again: the box that is up
    // shows the rest when it closes.
    if (errorBoxUp_) return;
    errorBoxUp_ = true;
  }
  for (;;) {
    CollectedError error;
    {
      std::lock_guard lock(errorsMutex_);
      if (collectedErrors_.empty()) {
        errorBoxUp_ = false;
        return;
      }
      error = std::move(collectedErrors_.front());
      collectedErrors_.pop_front();
    }
    try {
      if (error.takeText) {
        error.message = error.takeText();
        if (error.message.empty()) continue;
      }
      if (error.repeats > 0) error.message += " (and " + std::to_string(error.repeats) + " more)";
      ShowMessageBox(error.message, title_, MB_OK | MB_ICONSTOP);
    } catch (...) {
      std::lock_guard lock(errorsMutex_);
      errorBoxUp_ = false;
      throw;
    }
  }
}

void TApplication::FatalError(const std::string& message) {
  const std::string text = vz::Clip255(message);
  MessageBoxA(nullptr, text.c_str(), "Application Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  ExitProcess(1);
}

void TApplication::Synchronize(const std::function<void()>& call) {
  if (GetCurrentThreadId() == mainThreadId_) {
    call();
    return;
  }
  SyncRequest request{&call, nullptr};
  SendMessageA(handle_.Get(), kWmSynchronize, 0, reinterpret_cast<LPARAM>(&request));
  if (request.error) std::rethrow_exception(request.error);
}

void TApplication::AddMessageFilter(void* key, MessageFilter filter) {
  filters_.emplace_back(key, std::move(filter));
}

void TApplication::RemoveMessageFilter(void* key) {
  filters_.erase(std::remove_if(filters_.begin(), filters_.end(),
                                [key](const auto& entry) { return entry.first == key; }),
                 filters_.end());
}
