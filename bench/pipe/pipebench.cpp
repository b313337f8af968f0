// pipebench: the driver channel's round trip against a bare named-pipe ping-pong
// of the same 257-byte messages, measured side by side in one run.
//   pipebench bare                 serves \\.\pipe\VzBareBench: connect, read, reply, disconnect
//   pipebench channel              hosts TApdFaxDriverInterface on \\.\pipe\ApFaxCnv, no handler
//   pipebench compare N            N round trips to each, interleaved; prints figures and ratios
//   pipebench dialog N             with VZNTCTL running (and "bare" serving): N document ends,
//                                  each timed from the request to the fax details dialog
//                                  shown with the keyboard in its first box, against bare
//                                  round trips in between; then the controller's CPU time
//                                  while it waits for jobs
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driverlink/adfaxctl.hpp"
#include "platform/handles.hpp"
#include "toolkit/application.hpp"
#include "tools/driverclient.hpp"

namespace proto = vz::driverlink;

namespace {

constexpr char kBarePipe[] = "\\\\.\\pipe\\VzBareBench";

// The same pipe parameters and overlapped server pattern as the channel, minus
// the hand-off to a GUI thread.
int ServeBare() {
  vz::win::Handle pipe(CreateNamedPipeA(kBarePipe, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                        proto::kMessageSize, proto::kMessageSize,
                                        proto::kPipeTimeoutMs, nullptr));
  if (!pipe) return 1;
  vz::win::Handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  proto::Message request{};
  const proto::Message reply = proto::EncodeReply("C:\\DEFAULT.APF");
  for (;;) {
    OVERLAPPED ov{};
    ov.hEvent = event.Get();
    ResetEvent(event.Get());
    if (!ConnectNamedPipe(pipe.Get(), &ov)) {
      const DWORD error = GetLastError();
      if (error == ERROR_IO_PENDING)
        WaitForSingleObject(event.Get(), INFINITE);
      else if (error != ERROR_PIPE_CONNECTED) {
        DisconnectNamedPipe(pipe.Get());
        continue;
      }
    }
    DWORD got = 0;
    ov = OVERLAPPED{};
    ov.hEvent = event.Get();
    ResetEvent(event.Get());
    if (!ReadFile(pipe.Get(), request.data(), proto::kMessageSize, &got, &ov) &&
        GetLastError() == ERROR_IO_PENDING)
      GetOverlappedResult(pipe.Get(), &ov, &got, TRUE);
    if (got > 0 && request[0] == proto::kCodeDocStart) {
      ov = OVERLAPPED{};
      ov.hEvent = event.Get();
      ResetEvent(event.Get());
      DWORD written = 0;
      if (!WriteFile(pipe.Get(), reply.data(), proto::kMessageSize, &written, &ov) &&
          GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(pipe.Get(), &ov, &written, TRUE);
      // As the channel does: the client leaves before the disconnect, or the
      // disconnect could discard the unread reply.
      ov = OVERLAPPED{};
      ov.hEvent = event.Get();
      ResetEvent(event.Get());
      if (!ReadFile(pipe.Get(), request.data(), proto::kMessageSize, &got, &ov) &&
          GetLastError() == ERROR_IO_PENDING &&
          WaitForSingleObject(event.Get(), proto::kPipeTimeoutMs) != WAIT_OBJECT_0) {
        CancelIo(pipe.Get());
        GetOverlappedResult(pipe.Get(), &ov, &got, TRUE);
      }
    }
    DisconnectNamedPipe(pipe.Get());
  }
}

int ServeChannel() {
  TApplication application;
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  return application.Run();
}

struct Stats {
  double median, p99, max;
};

Stats Summarise(std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double q) {
    return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))];
  };
  return {at(0.5), at(0.99), micros.back()};
}

void PrintStats(const char* label, const Stats& s) {
  std::printf("%-24s median %9.1f us  p99 %9.1f us  max %9.1f us\n", label, s.median, s.p99, s.max);
}

int Compare(long count) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  vz::tools::PipeClientOptions bare;
  bare.pipeName = kBarePipe;
  const vz::tools::PipeClientOptions channel;
  const auto time = [&](const vz::tools::PipeClientOptions& options) {
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    vz::tools::PipeDocStart("bench", options);
    QueryPerformanceCounter(&t1);
    return static_cast<double>(t1.QuadPart - t0.QuadPart) * 1e6 /
           static_cast<double>(frequency.QuadPart);
  };
  // Warm both servers up, then alternate so that drift hits both alike.
  for (int i = 0; i < 20; ++i) {
    time(bare);
    time(channel);
  }
  std::vector<double> bareTimes, channelTimes;
  for (long i = 0; i < count; ++i) {
    bareTimes.push_back(time(bare));
    channelTimes.push_back(time(channel));
  }
  const Stats b = Summarise(bareTimes);
  const Stats c = Summarise(channelTimes);
  std::printf("round trips: %ld each\n", count);
  PrintStats("bare pipe ping-pong:", b);
  PrintStats("driver channel:", c);
  std::printf("ratio median %.2f (target <= 1.5), ratio p99 %.2f (target <= 3)\n", c.median / b.median,
              c.p99 / b.p99);
  return 0;
}

double MicrosSince(const LARGE_INTEGER& t0) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - t0.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

// The fax details dialog once it is shown with the keyboard in its first box (the
// Phone box, id 202): what a user can type into.
HWND ReadyDialog() {
  HWND dialog = FindWindowA("TForm", "VelmorFAX NT Print To Fax");
  if (dialog == nullptr || !IsWindowVisible(dialog)) return nullptr;
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui)) return nullptr;
  return gui.hwndFocus != nullptr && gui.hwndFocus == GetDlgItem(dialog, 202) ? dialog : nullptr;
}

double DialogReadyMicros() {
  vz::tools::PipeDocStart("bench");
  LARGE_INTEGER t0;
  QueryPerformanceCounter(&t0);
  std::thread driver([] { vz::tools::PipeDocEnd(); });
  HWND dialog = nullptr;
  while ((dialog = ReadyDialog()) == nullptr) {
    if (MicrosSince(t0) > 10e6) throw std::runtime_error("no fax details dialog within 10 s");
    Sleep(1);
  }
  const double micros = MicrosSince(t0);
  PostMessageA(GetDlgItem(dialog, 202), WM_KEYDOWN, VK_ESCAPE, 0);
  driver.join();
  return micros;
}

// CPU time (user and kernel) of `process` so far, in milliseconds.
double CpuMillis(HANDLE process) {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(process, &created, &exited, &kernel, &user);
  const auto ticks = [](const FILETIME& f) {
    return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e4;
}

int Dialog(long count) {
  if (count <= 0) return 2;
  vz::tools::PipeClientOptions bare;
  bare.pipeName = kBarePipe;
  const auto roundTrip = [&] {
    LARGE_INTEGER t0;
    QueryPerformanceCounter(&t0);
    vz::tools::PipeDocStart("bench", bare);
    return MicrosSince(t0);
  };
  DialogReadyMicros();  // the first dialog loads what later ones find ready
  std::vector<double> dialogTimes, bareTimes;
  for (long i = 0; i < count; ++i) {
    bareTimes.push_back(roundTrip());
    dialogTimes.push_back(DialogReadyMicros());
  }
  const Stats b = Summarise(bareTimes);
  const Stats d = Summarise(dialogTimes);
  std::printf("document ends: %ld\n", count);
  PrintStats("bare pipe ping-pong:", b);
  PrintStats("request to dialog ready:", d);
  std::printf("ratio median %.1f; dialog ready within %.1f ms at worst (target 100 ms)\n", d.median / b.median,
              d.max / 1000.0);

  HWND form = FindWindowA("TMainForm", nullptr);
  DWORD pid = 0;
  GetWindowThreadProcessId(form, &pid);
  vz::win::Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) throw std::runtime_error("cannot open the controller's process");
  constexpr DWORD kIdleMs = 5000;
  const double before = CpuMillis(process.Get());
  Sleep(kIdleMs);
  const double used = CpuMillis(process.Get()) - before;
  std::printf("controller idle for %lu ms: %.1f ms CPU (target 0)\n", kIdleMs, used);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "bare") return ServeBare();
    if (mode == "channel") return ServeChannel();
    if (mode == "compare" && argc == 3) return Compare(std::strtol(argv[2], nullptr, 10));
    if (mode == "dialog" && argc == 3) return Dialog(std::strtol(argv[2], nullptr, 10));
    std::fputs("usage: pipebench bare | channel | compare N | dialog N\n", stderr);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pipebench: %s\n", e.what());
    return 1;
  }
}
