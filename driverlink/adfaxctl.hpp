#pragma once
// TApdFaxDriverInterface serves the fax printer driver: it owns the pipe
// \\.\pipe\ApFaxCnv and its monitor thread (Windows NT) or a hidden window (other
// platforms), raises OnDocStart and OnDocEnd on the GUI thread, and answers each
// document start with FileName.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "driverlink/badrequests.hpp"
#include "driverlink/pipeproto.hpp"
#include "platform/handles.hpp"
#include "toolkit/component.hpp"

enum class TDriverTransport {
  dtAuto,    // the pipe on Windows NT, the window elsewhere (the version query decides)
  dtPipe,
  dtWindow,
};

class TApdFaxDriverInterface;

// Serves the pipe: waits for a client, reads one request, hands it to the GUI
// thread, answers a document start, disconnects; until StopEvent is set.
class TMonitorThread {
 public:
  TMonitorThread(TApdFaxDriverInterface* owner, vz::win::Handle pipe, vz::win::Handle stopEvent,
                 vz::win::Handle ioEvent);
  TMonitorThread(const TMonitorThread&) = delete;
  TMonitorThread& operator=(const TMonitorThread&) = delete;
  // Stops the loop first when it still runs.
  ~TMonitorThread();

  void Start();
  // Sets StopEvent and waits until the loop no longer touches the pipe, the events
  // or the owner. Calls the GUI thread sends meanwhile are answered (and skipped
  // by the owner), so a hand-off in flight cannot deadlock the wait.
  void Stop();
  bool Finished() const noexcept { return finished_.load(); }

  TApdFaxDriverInterface* Owner;

 private:
  static DWORD WINAPI ThreadProc(void* self);
  void Execute();
  void PrepareOverlapped();
  // Waits for the pending operation; false when StopEvent (or a failure) ended the wait.
  bool WaitForIo();
  void CancelPendingIo();
  bool WaitForClient();
  std::size_t ReadRequest();
  // Writes the reply and waits until the driver has taken it; false when stopped.
  bool WriteReply(const std::string& fileName);
  bool WaitForClientToLeave();
  // Runs `call` on the GUI thread and waits for it. False when it was skipped
  // because the component or the program is closing.
  bool HandOff(const std::function<void(TApdFaxDriverInterface&)>& call);

  vz::win::Handle pipe_;
  vz::win::Handle stopEvent_;
  vz::win::Handle ioEvent_;
  vz::win::Handle thread_;
  OVERLAPPED overlapped_{};
  bool ioPending_ = false;
  vz::driverlink::Message request_{};
  std::atomic<bool> finished_{false};
  friend class TApdFaxDriverInterface;
};

class TApdFaxDriverInterface : public TComponent {
 public:
  explicit TApdFaxDriverInterface(TComponent* owner,
                                  TDriverTransport transport = TDriverTransport::dtAuto);
  ~TApdFaxDriverInterface() override;

  // Handed to the driver at the next document start.
  std::string FileName = "C:\\DEFAULT.APF";
  // The text that came with the last document start.
  std::string DocumentName;
  TNotifyEvent OnDocStart;
  TNotifyEvent OnDocEnd;

  virtual void DoDocStart();
  virtual void DoDocEnd();

  TDriverTransport Transport() const noexcept { return transport_; }
  HWND PipeWindow() const noexcept { return pipeWindow_.Get(); }
  HANDLE Semaphore() const noexcept { return semaphore_.Get(); }

  // True once the component or its owner is being destroyed: late notices are
  // dropped. GUI thread only; the monitor thread looks at the atomic stop flag.
  bool Closing() const noexcept;

 private:
  void CreatePipeTransport();
  void CreateWindowTransport();
  void SignalSemaphore();
  // Document start on the GUI thread: keeps the document name, runs DoDocStart and
  // cuts FileName to what the driver will receive.
  void StartDocument(const std::string& documentName);
  // Document end on the GUI thread: runs DoDocEnd for the document started last,
  // once. An end with no start since the last end would act on a fax that is
  // already queued (a Cancel deletes it): it is counted as a bad request.
  void EndDocument();
  // Counts a request that could not be served; from any thread.
  void ReportUnknownCode(int code);
  void ReportUnmatchedDocEnd();
  void QueueBadRequestReport();
  static LRESULT CALLBACK PipeWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnPipeWindowMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

  TDriverTransport transport_;
  std::atomic<bool> stopping_{false};
  bool documentStarted_ = false;
  // Shared with the reports queued for the GUI thread, which may outlive this.
  std::shared_ptr<vz::driverlink::BadRequestLog> badRequests_ =
      std::make_shared<vz::driverlink::BadRequestLog>();
  std::unique_ptr<TMonitorThread> monitor_;
  vz::win::Handle semaphore_;
  vz::win::OwnedWindow pipeWindow_;
  friend class TMonitorThread;
};

// True when the version query reports Windows NT (platform identifier 2).
bool IsWindowsNt();

// The pipe's security descriptor (see driverlink/pipesecurity.hpp) for the user
// this process runs as; freed with LocalFree.
struct LocalFreeDeleter {
  void operator()(void* p) const noexcept { LocalFree(p); }
};
using SecurityDescriptorPtr = std::unique_ptr<void, LocalFreeDeleter>;
SecurityDescriptorPtr MakePipeSecurityDescriptor();
