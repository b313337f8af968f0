#include "driverlink/adfaxctl.hpp"

#include <sddl.h>

#include <exception>
#include <vector>

#include "common/text.hpp"
#include "driverlink/pipesecurity.hpp"
#include "platform/windowclass.hpp"
#include "toolkit/application.hpp"
#include "toolkit/exception.hpp"

using vz::Format;
using vz::win::Handle;
namespace proto = vz::driverlink;

namespace {

constexpr char kPipeWindowClass[] = "TApdFaxDriverPipeWindow";
// The version record's size as the version query expects it.
static_assert(sizeof(OSVERSIONINFOA) == 148);

OSVERSIONINFOA QueryVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&info);
#pragma GCC diagnostic pop
  return info;
}

// Pipe type flags; from Windows 6.0 on remote clients are refused, since the fax
// printer driver is always on this machine.
DWORD PipeModeFlags() {
  DWORD mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
  const OSVERSIONINFOA v = QueryVersion();
  if (v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion >= 6)
    mode |= PIPE_REJECT_REMOTE_CLIENTS;
  return mode;
}

// An error that escapes the thread ends the program: with the "Application Error"
// box while the application object is there, at once when it is gone.
[[noreturn]] void EndWithError(const std::string& message) {
  if (TApplication* app = Application) app->FatalError(message);
  ExitProcess(1);
}

}  // namespace

bool IsWindowsNt() {
  return QueryVersion().dwPlatformId == VER_PLATFORM_WIN32_NT;
}

SecurityDescriptorPtr MakePipeSecurityDescriptor() {
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken))
    throw Exception("Unable to initialize security descriptor");
  const Handle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  char* sidText = nullptr;
  if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size) ||
      !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sidText))
    throw Exception("Unable to initialize security descriptor");
  const std::unique_ptr<char, LocalFreeDeleter> sid(sidText);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          proto::PipeSecurityText(sid.get()).c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    throw Exception("Unable to set security DACL");
  return SecurityDescriptorPtr(descriptor);
}

// ---------------------------------------------------------------------------
// TMonitorThread

TMonitorThread::TMonitorThread(TApdFaxDriverInterface* owner, Handle pipe, Handle stopEvent,
                               Handle ioEvent)
    : Owner(owner),
      pipe_(std::move(pipe)),
      stopEvent_(std::move(stopEvent)),
      ioEvent_(std::move(ioEvent)) {}

TMonitorThread::~TMonitorThread() {
  Stop();
}

void TMonitorThread::Start() {
  HANDLE h = CreateThread(nullptr, 0, &TMonitorThread::ThreadProc, this, 0, nullptr);
  if (h == nullptr) throw Exception("Unable to create the pipe monitor thread");
  thread_.Reset(h);
}

void TMonitorThread::Stop() {
  if (!thread_) return;
  SetEvent(stopEvent_.Get());
  HANDLE thread = thread_.Get();
  for (;;) {
    // Answers the calls sent to this thread's windows, nothing else. First, and
    // with MWMO_INPUTAVAILABLE: a call that was already looked at (a queue status
    // query, a peek) no longer counts as new, and a plain wait would miss it.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    const DWORD r = MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_SENDMESSAGE,
                                                MWMO_INPUTAVAILABLE);
    if (r != WAIT_OBJECT_0 + 1) break;
  }
  thread_.Reset();
}

DWORD WINAPI TMonitorThread::ThreadProc(void* self) {
  auto* monitor = static_cast<TMonitorThread*>(self);
  try {
    monitor->Execute();
  } catch (const std::exception& e) {
    monitor->CancelPendingIo();
    EndWithError(e.what());
  } catch (...) {
    monitor->CancelPendingIo();
    EndWithError("Unknown error in the pipe monitor thread");
  }
  monitor->CancelPendingIo();
  monitor->finished_ = true;
  return 0;
}

void TMonitorThread::PrepareOverlapped() {
  overlapped_ = OVERLAPPED{};
  overlapped_.hEvent = ioEvent_.Get();
  ResetEvent(ioEvent_.Get());
}

bool TMonitorThread::WaitForIo() {
  ioPending_ = true;
  HANDLE events[2] = {stopEvent_.Get(), ioEvent_.Get()};
  const DWORD r = WaitForMultipleObjects(2, events, FALSE, INFINITE);
  if (r != WAIT_OBJECT_0 + 1) return false;
  ioPending_ = false;
  return true;
}

void TMonitorThread::CancelPendingIo() {
  if (!ioPending_) return;
  // The overlapped record must outlive the operation: cancel it and let it finish.
  CancelIo(pipe_.Get());
  DWORD ignored = 0;
  GetOverlappedResult(pipe_.Get(), &overlapped_, &ignored, TRUE);
  ioPending_ = false;
}

bool TMonitorThread::WaitForClient() {
  for (;;) {
    PrepareOverlapped();
    const BOOL ok = ConnectNamedPipe(pipe_.Get(), &overlapped_);
    const DWORD error = GetLastError();
    if (ok || error == ERROR_PIPE_CONNECTED) return true;
    if (error == ERROR_IO_PENDING) return WaitForIo();
    // A client that came and went before the wait (ERROR_NO_DATA) or a broken pipe:
    // drop it; the short pause keeps a persistent failure from spinning.
    DisconnectNamedPipe(pipe_.Get());
    if (WaitForSingleObject(stopEvent_.Get(), 10) != WAIT_TIMEOUT) return false;
  }
}

std::size_t TMonitorThread::ReadRequest() {
  PrepareOverlapped();
  DWORD got = 0;
  if (ReadFile(pipe_.Get(), request_.data(), static_cast<DWORD>(request_.size()), &got,
               &overlapped_))
    return got;
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    if (!WaitForIo()) return SIZE_MAX;
    if (GetOverlappedResult(pipe_.Get(), &overlapped_, &got, FALSE)) return got;
    error = GetLastError();
  }
  // A longer message is served from its first 257 bytes; the rest goes with the
  // disconnection.
  if (error == ERROR_MORE_DATA) return request_.size();
  return 0;
}

bool TMonitorThread::WriteReply(const std::string& fileName) {
  PrepareOverlapped();
  const proto::Message reply = proto::EncodeReply(fileName);
  if (!WriteFile(pipe_.Get(), reply.data(), static_cast<DWORD>(reply.size()), nullptr,
                 &overlapped_) &&
      GetLastError() == ERROR_IO_PENDING && !WaitForIo())
    return false;
  return WaitForClientToLeave();
}

bool TMonitorThread::WaitForClientToLeave() {
  // Disconnecting discards a reply the driver has not read yet, which would leave
  // it without a file name. The driver closes its end once it has the reply; a
  // read that ends in a broken pipe tells us so. A read that brings bytes (the rest
  // of a request longer than a message) is no such sign: it is dropped and the wait
  // goes on. One that keeps the connection is let go after the pipe's time-out.
  const ULONGLONG deadline = GetTickCount64() + proto::kPipeTimeoutMs;
  unsigned char ignored[proto::kMessageSize];
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return true;
    PrepareOverlapped();
    if (ReadFile(pipe_.Get(), ignored, sizeof(ignored), nullptr, &overlapped_) || GetLastError() == ERROR_MORE_DATA)
      continue;
    if (GetLastError() != ERROR_IO_PENDING) return true;
    ioPending_ = true;
    HANDLE events[2] = {stopEvent_.Get(), ioEvent_.Get()};
    const DWORD r = WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(deadline - now));
    if (r != WAIT_OBJECT_0 + 1) {
      CancelPendingIo();
      return r == WAIT_TIMEOUT;
    }
    ioPending_ = false;
    DWORD got = 0;
    if (!GetOverlappedResult(pipe_.Get(), &overlapped_, &got, FALSE) && GetLastError() != ERROR_MORE_DATA)
      return true;
  }
}

bool TMonitorThread::HandOff(const std::function<void(TApdFaxDriverInterface&)>& call) {
  TApdFaxDriverInterface* owner = Owner;
  // The application outlives this thread: it frees its components, and with them
  // this thread, before it lets go of anything. Without one, nothing could run
  // the handlers, and serving ends.
  TApplication* app = Application;
  if (app == nullptr) return false;
  bool ran = false;
  try {
    app->Synchronize([owner, &call, &ran] {
      if (owner->Closing()) return;
      ran = true;
      call(*owner);
    });
  } catch (const std::exception& e) {
    // An error that escapes a document handler ends the program.
    CancelPendingIo();
    EndWithError(e.what());
  }
  return ran && !owner->stopping_.load();
}

void TMonitorThread::Execute() {
  for (;;) {
    if (!WaitForClient()) return;
    const std::size_t got = ReadRequest();
    if (got == SIZE_MAX) return;
    if (got > 0) {
      const proto::Request request = proto::DecodeRecord(request_.data(), got);
      switch (request.code) {
        case proto::kCodeDocStart: {
          // The reply is taken on the GUI thread, so this thread never reads the
          // component's strings.
          std::string fileName;
          if (!HandOff([&](TApdFaxDriverInterface& owner) {
                owner.StartDocument(request.text);
                fileName = owner.FileName;
              }))
            return;
          if (!WriteReply(fileName)) return;
          break;
        }
        case proto::kCodeDocEnd:
          if (!HandOff([](TApdFaxDriverInterface& owner) { owner.EndDocument(); })) return;
          break;
        case proto::kCodeNothing:
          break;
        default:
          // Any local process can send this: it must not end the controller. The
          // client goes first, so the error box never holds the pipe.
          DisconnectNamedPipe(pipe_.Get());
          Owner->ReportUnknownCode(request.code);
          continue;
      }
    }
    DisconnectNamedPipe(pipe_.Get());
  }
}

// ---------------------------------------------------------------------------
// TApdFaxDriverInterface

TApdFaxDriverInterface::TApdFaxDriverInterface(TComponent* owner, TDriverTransport transport)
    : TComponent(owner), transport_(transport) {
  if (transport_ == TDriverTransport::dtAuto)
    transport_ = IsWindowsNt() ? TDriverTransport::dtPipe : TDriverTransport::dtWindow;
  if (transport_ == TDriverTransport::dtWindow)
    CreateWindowTransport();
  else
    CreatePipeTransport();
}

TApdFaxDriverInterface::~TApdFaxDriverInterface() {
  stopping_ = true;
  Destroying();
  // The thread goes before anything it uses.
  monitor_.reset();
  FileName.clear();
  DocumentName.clear();
  semaphore_.Reset();
  pipeWindow_.Reset();
}

bool TApdFaxDriverInterface::Closing() const noexcept {
  return stopping_.load() || HasState(csDestroying) ||
         (Owner() != nullptr && Owner()->HasState(csDestroying));
}

void TApdFaxDriverInterface::DoDocStart() {
  if (OnDocStart) OnDocStart(this);
}

void TApdFaxDriverInterface::DoDocEnd() {
  if (OnDocEnd) OnDocEnd(this);
}

void TApdFaxDriverInterface::StartDocument(const std::string& documentName) {
  DocumentName = documentName;
  documentStarted_ = true;
  DoDocStart();
  // The job descriptor and a cancel act on FileName: it must name the file the
  // driver writes, which is the name as sent.
  FileName = vz::Clip255(FileName);
}

void TApdFaxDriverInterface::EndDocument() {
  if (!documentStarted_) {
    ReportUnmatchedDocEnd();
    return;
  }
  documentStarted_ = false;
  DoDocEnd();
}

void TApdFaxDriverInterface::ReportUnknownCode(int code) {
  if (badRequests_->AddUnknownCode(code)) QueueBadRequestReport();
}

void TApdFaxDriverInterface::ReportUnmatchedDocEnd() {
  if (badRequests_->AddUnmatchedDocEnd()) QueueBadRequestReport();
}

void TApdFaxDriverInterface::QueueBadRequestReport() {
  TApplication* app = Application;
  if (app == nullptr) {
    badRequests_->Take();
    return;
  }
  app->QueueReport([log = badRequests_] { return log->Take(); });
}

void TApdFaxDriverInterface::CreatePipeTransport() {
  const SecurityDescriptorPtr descriptor = MakePipeSecurityDescriptor();
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor.get();
  attributes.bInheritHandle = FALSE;

  HANDLE h = CreateNamedPipeA(proto::kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                              PipeModeFlags(), 1, proto::kMessageSize, proto::kMessageSize,
                              proto::kPipeTimeoutMs, &attributes);
  if (h == INVALID_HANDLE_VALUE || h == nullptr)
    throw Exception(Format("Unable to create named pipe. Error:%d", static_cast<int>(GetLastError())));
  Handle pipe(h);
  Handle stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!stopEvent) throw Exception("Unable to create event");
  Handle ioEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!ioEvent) throw Exception("Unable to create event");

  monitor_ = std::make_unique<TMonitorThread>(this, std::move(pipe), std::move(stopEvent),
                                              std::move(ioEvent));
  monitor_->Start();
  try {
    SignalSemaphore();
  } catch (...) {
    stopping_ = true;
    monitor_.reset();
    throw;
  }
}

void TApdFaxDriverInterface::SignalSemaphore() {
  HANDLE existing = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, proto::kSemaphoreName);
  if (existing != nullptr) {
    Handle opened(existing);
    if (!ReleaseSemaphore(opened.Get(), 1, nullptr))
      throw Exception("Unable to release semaphore");
    return;
  }
  // Kept open while the controller runs, so the driver finds it; a failed creation
  // simply leaves none.
  semaphore_.Reset(CreateSemaphoreA(nullptr, 0, 1, proto::kSemaphoreName));
}

void TApdFaxDriverInterface::CreateWindowTransport() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  // Unregistered, the class makes the window's creation fail, which is reported below.
  vz::win::EnsureWindowClass(kPipeWindowClass, &TApdFaxDriverInterface::PipeWindowProc);
  HWND wnd = CreateWindowExA(0, kPipeWindowClass, proto::kPipeName, WS_OVERLAPPED, 0, 0, 0, 0,
                             nullptr, nullptr, instance, this);
  if (wnd == nullptr) throw Exception("Unable to create \"pipe\" window");
  pipeWindow_.Reset(wnd);
  SetWindowTextA(wnd, proto::kPipeName);
}

LRESULT CALLBACK TApdFaxDriverInterface::PipeWindowProc(HWND wnd, UINT msg, WPARAM wp,
                                                        LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TApdFaxDriverInterface*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(wnd, msg, wp, lp);
  return self->OnPipeWindowMessage(wnd, msg, wp, lp);
}

LRESULT TApdFaxDriverInterface::OnPipeWindowMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != proto::kWmDocStart && msg != proto::kWmDocEnd) return DefWindowProcA(wnd, msg, wp, lp);
  if (Closing()) return 0;
  try {
    if (msg == proto::kWmDocStart) {
      char title[256] = {};
      GetWindowTextA(wnd, title, sizeof(title));
      StartDocument(title);
      SetWindowTextA(wnd, FileName.c_str());
    } else {
      EndDocument();
    }
  } catch (const std::exception& e) {
    if (TApplication* app = Application) app->HandleException(e);
  }
  return 0;
}
