#include "toolkit/application.hpp"

#include <algorithm>

#include "common/text.hpp"
#include "toolkit/exception.hpp"

TApplication* Application = nullptr;

namespace {

constexpr char kWindowClass[] = "TApplication";

struct SyncRequest {
  const std::function<void()>* call;
  std::exception_ptr error;
};

void RegisterApplicationClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSA wc{};
  if (GetClassInfoA(instance, kWindowClass, &wc)) return;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  wc.hIcon = LoadIconA(instance, "MAINICON");
  if (!RegisterClassA(&wc)) throw Exception("Unable to register the application window class");
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
  if (Application == nullptr) Application = this;
}

TApplication::~TApplication() {
  Destroying();
  if (Application == this) Application = nullptr;
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
      ShowQueuedExceptions();
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

void TApplication::Terminate() {
  PostQuitMessage(0);
}

void TApplication::HandleException(const std::exception& error) {
  ShowException(error.what());
}

void TApplication::ShowException(const std::string& message) {
  const std::string text = vz::Clip255(message);
  MessageBoxA(handle_.Get(), text.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP);
}

void TApplication::QueueException(const std::string& message) {
  {
    std::lock_guard lock(queuedMutex_);
    queuedErrors_.push_back(message);
  }
  PostMessageA(handle_.Get(), kWmQueuedException, 0, 0);
}

void TApplication::ShowQueuedExceptions() {
  for (;;) {
    std::string message;
    {
      std::lock_guard lock(queuedMutex_);
      if (queuedErrors_.empty()) return;
      message = std::move(queuedErrors_.front());
      queuedErrors_.pop_front();
    }
    ShowException(message);
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
