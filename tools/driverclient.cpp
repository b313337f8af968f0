#include "tools/driverclient.hpp"

#include "common/text.hpp"
#include "platform/handles.hpp"

namespace vz::tools {

namespace proto = vz::driverlink;

namespace {

// Class of the controller's hidden window: its title changes with every job.
constexpr char kDriverWindowClass[] = "TApdFaxDriverPipeWindow";

win::Handle ConnectPipe(const PipeClientOptions& options) {
  const ULONGLONG deadline = GetTickCount64() + options.timeoutMs;
  for (;;) {
    HANDLE h = CreateFileA(options.pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
      return win::Handle(h);
    }
    const DWORD error = GetLastError();
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline)
      throw DriverClientError(Format("no fax controller is listening on %s (error %lu)",
                                     options.pipeName.c_str(), error));
    const DWORD left = static_cast<DWORD>(deadline - now);
    if (error == ERROR_PIPE_BUSY)
      WaitNamedPipeA(options.pipeName.c_str(), left);
    else
      Sleep(left < 20 ? left : 20);
  }
}

}  // namespace

std::vector<unsigned char> PipeExchange(const std::vector<unsigned char>& message, bool expectReply,
                                        const PipeClientOptions& options) {
  win::Handle pipe = ConnectPipe(options);
  DWORD written = 0;
  if (!WriteFile(pipe.Get(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr))
    throw DriverClientError(Format("writing to the pipe failed (error %lu)", GetLastError()));
  std::vector<unsigned char> reply;
  if (!expectReply) return reply;
  reply.resize(proto::kMessageSize);
  DWORD got = 0;
  if (!ReadFile(pipe.Get(), reply.data(), static_cast<DWORD>(reply.size()), &got, nullptr) &&
      GetLastError() != ERROR_MORE_DATA)
    got = 0;
  reply.resize(got);
  return reply;
}

std::string PipeDocStart(const std::string& documentName, const PipeClientOptions& options) {
  const proto::Message request = proto::EncodeRequest(proto::kCodeDocStart, documentName);
  const auto reply =
      PipeExchange(std::vector<unsigned char>(request.begin(), request.end()), true, options);
  if (reply.empty()) throw DriverClientError("the fax controller sent no reply");
  const proto::Request decoded = proto::DecodeRecord(reply.data(), reply.size());
  if (decoded.code != proto::kReplyFileName)
    throw DriverClientError(Format("unexpected reply code %d", decoded.code));
  return decoded.text;
}

DocStartOutcome TryPipeDocStart(const std::string& documentName, const PipeClientOptions& options) {
  win::Handle pipe;
  try {
    pipe = ConnectPipe(options);
  } catch (const DriverClientError&) {
    return {DocStartOutcome::kRefused, {}};
  }
  const proto::Message request = proto::EncodeRequest(proto::kCodeDocStart, documentName);
  DWORD written = 0;
  if (!WriteFile(pipe.Get(), request.data(), static_cast<DWORD>(request.size()), &written, nullptr))
    return {DocStartOutcome::kClosed, {}};
  proto::Message reply{};
  DWORD got = 0;
  if (!ReadFile(pipe.Get(), reply.data(), static_cast<DWORD>(reply.size()), &got, nullptr) || got == 0)
    return {DocStartOutcome::kClosed, {}};
  const proto::Request decoded = proto::DecodeRecord(reply.data(), got);
  if (decoded.code != proto::kReplyFileName)
    throw DriverClientError(Format("unexpected reply code %d", decoded.code));
  return {DocStartOutcome::kReply, decoded.text};
}

void PipeDocEnd(const PipeClientOptions& options) {
  // The driver stays connected until the controller lets it go: the end of the
  // document is handled (the fax details asked for) while it waits.
  const proto::Message request = proto::EncodeRequest(proto::kCodeDocEnd, "");
  PipeExchange(std::vector<unsigned char>(request.begin(), request.end()), true, options);
}

HWND FindDriverWindow(DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    HWND wnd = FindWindowA(kDriverWindowClass, nullptr);
    if (wnd != nullptr) return wnd;
    if (GetTickCount64() >= deadline)
      throw DriverClientError("no fax controller window was found");
    Sleep(20);
  }
}

std::string WindowDocStart(const std::string& documentName, DWORD timeoutMs) {
  HWND wnd = FindDriverWindow(timeoutMs);
  SetWindowTextA(wnd, Clip255(documentName).c_str());
  SendMessageA(wnd, proto::kWmDocStart, 0, 0);
  char title[256] = {};
  GetWindowTextA(wnd, title, sizeof(title));
  return title;
}

void WindowDocEnd(DWORD timeoutMs) {
  SendMessageA(FindDriverWindow(timeoutMs), proto::kWmDocEnd, 0, 0);
}

}  // namespace vz::tools
