// The driver channel under Wine: a client thread plays the fax printer driver
// while the test's main thread is the GUI thread that runs the handlers.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "driverlink/adfaxctl.hpp"
#include "toolkit/application.hpp"
#include "toolkit/exception.hpp"
#include "tools/driverclient.hpp"

namespace proto = vz::driverlink;
using vz::tools::DriverClientError;

namespace {

using namespace std::chrono_literals;

// Runs `client` on another thread while this (GUI) thread handles messages.
template <typename F>
auto WithClient(F client) {
  auto result = std::async(std::launch::async, client);
  while (result.wait_for(0ms) != std::future_status::ready) {
    Application->ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return result.get();
}

std::vector<unsigned char> Bytes(const proto::Message& m) { return {m.begin(), m.end()}; }

// A whole record followed by filler, `size` bytes in all.
std::vector<unsigned char> Oversized(const proto::Message& m, std::size_t size) {
  std::vector<unsigned char> bytes(size, 'z');
  std::copy(m.begin(), m.end(), bytes.begin());
  return bytes;
}

vz::tools::PipeClientOptions QuickTimeout() {
  vz::tools::PipeClientOptions o;
  o.timeoutMs = 300;
  return o;
}

// Closes the standard error box when it appears and hands back its text.
std::future<std::string> CloseErrorBoxWhenShown() {
  return std::async(std::launch::async, [] {
    for (int i = 0; i < 500; ++i) {
      HWND box = FindWindowA("#32770", Application->Title().c_str());
      if (box != nullptr) {
        char text[512] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return std::string(text);
      }
      Sleep(10);
    }
    return std::string("<no box>");
  });
}

// True once a call sent from another thread waits for this (GUI) thread, that
// is, the monitor thread's hand-off is in flight; false after `timeoutMs`.
bool WaitForHandOff(int timeoutMs = 5000) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while ((HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) == 0) {
    if (GetTickCount64() > end) return false;
    Sleep(1);
  }
  return true;
}

// What the driver met, as text: "reply NAME", "closed" or "refused".
std::string OutcomeText(const char* documentName) {
  const auto outcome = vz::tools::TryPipeDocStart(documentName, QuickTimeout());
  if (outcome.kind == vz::tools::DocStartOutcome::kReply) return "reply " + outcome.fileName;
  return outcome.kind == vz::tools::DocStartOutcome::kClosed ? "closed" : "refused";
}

class DriverLinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    app_ = new TApplication();
    app_->SetTitle("DriverLinkTest");
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }
  static TApplication* app_;
};
TApplication* DriverLinkTest::app_ = nullptr;

TEST_F(DriverLinkTest, ReplyCarriesDefaultOrHandlerFileName) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("doc"); }), "C:\\DEFAULT.APF");

  int starts = 0;
  link.OnDocStart = [&](TComponent* sender) {
    EXPECT_EQ(sender, &link);
    EXPECT_EQ(link.DocumentName, "Quarterly report");
    ++starts;
    link.FileName = "D:\\FAXOUT\\FAX00007.APF";
  };
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("Quarterly report"); }),
            "D:\\FAXOUT\\FAX00007.APF");
  EXPECT_EQ(starts, 1);
}

TEST_F(DriverLinkTest, LongNamesArriveWholeAndRepliesAreCutAt255) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  const std::string document(255, 'd');
  link.OnDocStart = [&](TComponent*) { link.FileName = std::string(300, 'f'); };
  const auto reply = WithClient([&] {
    return vz::tools::PipeExchange(Bytes(proto::EncodeRequest(1, document)), true);
  });
  EXPECT_EQ(link.DocumentName, document);
  ASSERT_EQ(reply.size(), 257u);
  EXPECT_EQ(reply[0], 3);
  EXPECT_EQ(reply[1], 255);
  EXPECT_EQ(reply[256], 'f');
  // What the controller remembers is what the driver got.
  EXPECT_EQ(link.FileName, std::string(255, 'f'));
}

TEST_F(DriverLinkTest, WindowTransportKeepsTheNameItSent) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtWindow);
  link.OnDocStart = [&](TComponent*) { link.FileName = std::string(300, 'w'); };
  EXPECT_EQ(WithClient([] { return vz::tools::WindowDocStart("doc", 2000); }), std::string(255, 'w'));
  EXPECT_EQ(link.FileName, std::string(255, 'w'));
}

TEST_F(DriverLinkTest, NothingGetsNoReplyAndTheNextClientIsServed) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  const auto nothing = WithClient(
      [] { return vz::tools::PipeExchange(Bytes(proto::EncodeRequest(0, "")), true); });
  EXPECT_TRUE(nothing.empty());
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("next"); }), "C:\\DEFAULT.APF");
}

TEST_F(DriverLinkTest, UnknownCodeIsReportedAndServingGoesOn) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  auto boxText = CloseErrorBoxWhenShown();
  const auto reply = WithClient(
      [] { return vz::tools::PipeExchange(Bytes(proto::EncodeRequest(7, "x")), true); });
  EXPECT_TRUE(reply.empty());
  while (boxText.wait_for(0ms) != std::future_status::ready) {
    Application->ProcessMessages();
    Sleep(5);
  }
  EXPECT_EQ(boxText.get(), "Unknown incoming event encountered:7");
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("after"); }), "C:\\DEFAULT.APF");
}

// Watches this program's error boxes: counts how many are up at once, reads each
// one and closes it.
class ErrorBoxWatcher {
 public:
  // A watcher that does not close at once plays a user who is away while the
  // boxes come: it only counts them until StartClosing.
  explicit ErrorBoxWatcher(bool closeAtOnce = true) : closing_(closeAtOnce), thread_([this] { Run(); }) {}
  ~ErrorBoxWatcher() { Stop(); }
  void StartClosing() { closing_ = true; }
  // Reading a window's text sends to the thread that owns it: this (GUI) thread
  // handles messages until the watcher has seen the stop.
  void Stop() {
    stop_ = true;
    while (!done_) {
      Application->ProcessMessages();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    if (thread_.joinable()) thread_.join();
  }
  int MostAtOnce() const { return mostAtOnce_.load(); }
  std::vector<std::string> Texts() {
    std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  static BOOL CALLBACK Collect(HWND wnd, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    char className[32] = {};
    char caption[64] = {};
    GetClassNameA(wnd, className, sizeof(className));
    GetWindowTextA(wnd, caption, sizeof(caption));
    if (pid == GetCurrentProcessId() && IsWindowVisible(wnd) &&
        std::string(className) == "#32770" && std::string(caption) == "DriverLinkTest")
      reinterpret_cast<std::vector<HWND>*>(param)->push_back(wnd);
    return TRUE;
  }
  void Run() {
    while (!stop_) {
      std::vector<HWND> boxes;
      EnumWindows(&ErrorBoxWatcher::Collect, reinterpret_cast<LPARAM>(&boxes));
      if (static_cast<int>(boxes.size()) > mostAtOnce_) mostAtOnce_ = static_cast<int>(boxes.size());
      if (boxes.empty() || !closing_) {
        Sleep(2);
        continue;
      }
      HWND box = boxes.front();
      char text[512] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
      {
        std::lock_guard lock(mutex_);
        texts_.push_back(text);
      }
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(2);
    }
    done_ = true;
  }
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> closing_;
  std::atomic<int> mostAtOnce_{0};
  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::thread thread_;
};

// Handles messages until `done` holds; false after `timeoutMs`.
template <typename Condition>
bool PumpUntil(Condition done, int timeoutMs = 60000) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    Application->ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

// What the box texts stand for: "...:7" is one request of code 7; "...: 7, 9,
// 200 (7,499 requests)" is 7,499 of the codes named (and of "N other codes");
// a line about a document end with no start counts as `ignoredEnds`. Any other
// text is counted in `otherTexts`.
struct Reported {
  long unknown = 0;
  std::set<int> codesNamed;
  long otherCodes = 0;
  long ignoredEnds = 0;
  int otherTexts = 0;
};

long CountInParentheses(const std::string& line, const char* unit) {
  const auto open = line.rfind(" (");
  if (open == std::string::npos) return -1;
  std::string digits;
  std::size_t i = open + 2;
  for (; i < line.size() && (std::isdigit(static_cast<unsigned char>(line[i])) || line[i] == ','); ++i)
    if (line[i] != ',') digits += line[i];
  if (digits.empty() || line.substr(i) != std::string(" ") + unit + ")") return -1;
  return std::stol(digits);
}

bool ReadUnknownLine(const std::string& line, Reported& r) {
  const std::string prefix = "Unknown incoming event encountered:";
  if (line.rfind(prefix, 0) != 0) return false;
  int code = 0;
  int used = 0;
  if (std::sscanf(line.c_str() + prefix.size(), "%d%n", &code, &used) == 1 &&
      prefix.size() + used == line.size() && line[prefix.size()] != ' ') {
    ++r.unknown;
    r.codesNamed.insert(code);
    return true;
  }
  const long requests = CountInParentheses(line, "requests");
  if (requests < 2) return false;
  std::string list = line.substr(prefix.size(), line.rfind(" (") - prefix.size());
  long others = 0;
  const auto andAt = list.find(" and ");
  if (andAt != std::string::npos) {
    if (std::sscanf(list.c_str() + andAt, " and %ld other code", &others) != 1) return false;
    list.erase(andAt);
  }
  for (std::size_t at = 0; at < list.size();) {
    if (std::sscanf(list.c_str() + at, " %d%n", &code, &used) != 1) return false;
    r.codesNamed.insert(code);
    at += used;
    if (at < list.size() && list[at] == ',') ++at;
  }
  r.unknown += requests;
  r.otherCodes += others;
  return true;
}

bool ReadIgnoredEndLine(const std::string& line, Reported& r) {
  const std::string text = "A document end came without a document start and was ignored";
  if (line == text) {
    ++r.ignoredEnds;
    return true;
  }
  const long requests = CountInParentheses(line, "requests");
  if (line.rfind(text + " (", 0) != 0 || requests < 2) return false;
  r.ignoredEnds += requests;
  return true;
}

Reported CountReported(const std::vector<std::string>& texts) {
  Reported r;
  for (const std::string& text : texts) {
    // Lines are separated by a carriage return.
    std::size_t from = 0;
    bool understood = true;
    while (understood && from <= text.size()) {
      const auto cr = std::min(text.find('\r', from), text.size());
      const std::string line = text.substr(from, cr - from);
      understood = ReadUnknownLine(line, r) || ReadIgnoredEndLine(line, r);
      from = cr + 1;
    }
    if (!understood) ++r.otherTexts;
  }
  return r;
}

TEST_F(DriverLinkTest, AFloodOfBadRequestsNeverStacksErrorBoxes) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  ErrorBoxWatcher watcher;
  const std::vector<std::vector<unsigned char>> kinds{
      Bytes(proto::EncodeRequest(7, "x")), {}, {9}, Oversized(proto::EncodeRequest(200, "big"), 400)};
  constexpr int kRequests = 10000;
  const std::string answer = WithClient([&] {
    // An empty record is written and the connection closed: nothing comes back
    // to wait for.
    for (int i = 0; i < kRequests; ++i) {
      const auto& request = kinds[i % kinds.size()];
      vz::tools::PipeExchange(request, !request.empty());
    }
    return vz::tools::PipeDocStart("good");
  });
  EXPECT_EQ(answer, "C:\\DEFAULT.APF");

  constexpr long kBad = kRequests / 4 * 3;
  EXPECT_TRUE(PumpUntil([&] { return CountReported(watcher.Texts()).unknown >= kBad; }));
  watcher.Stop();
  const Reported reported = CountReported(watcher.Texts());
  EXPECT_EQ(reported.unknown, kBad);
  EXPECT_EQ(reported.codesNamed, (std::set<int>{7, 9, 200}));
  EXPECT_EQ(reported.otherCodes, 0);
  EXPECT_EQ(reported.otherTexts, 0);
  EXPECT_EQ(watcher.MostAtOnce(), 1);
  EXPECT_LT(watcher.Texts().size(), static_cast<std::size_t>(kBad)) << "several requests were shown as one";
}

// A user away from the desk during a storm of 10,000 requests of 253 kinds comes
// back to one box: closing it brings one summary, and nothing more.
TEST_F(DriverLinkTest, AStormOfBadRequestsEndsInAtMostTwoBoxes) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  ErrorBoxWatcher user(false);
  constexpr int kRequests = 10000;
  const std::string answer = WithClient([&] {
    // Each request waits for the controller to hang up, as a driver waits for its
    // answer: one that hung up first could be gone before the controller read it.
    for (int i = 0; i < kRequests; ++i)
      vz::tools::PipeExchange(Bytes(proto::EncodeRequest(static_cast<std::uint8_t>(3 + i % 253), "x")), true);
    const std::string good = vz::tools::PipeDocStart("good");
    // The box that is up holds this (GUI) thread in its loop until it is closed.
    user.StartClosing();
    return good;
  });
  EXPECT_EQ(answer, "C:\\DEFAULT.APF");
  EXPECT_TRUE(PumpUntil([&] { return CountReported(user.Texts()).unknown >= kRequests; }));
  // Anything still to come would show now.
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("after"); }), "C:\\DEFAULT.APF");
  user.Stop();
  const auto texts = user.Texts();
  const Reported reported = CountReported(texts);
  EXPECT_EQ(reported.unknown, kRequests);
  EXPECT_EQ(reported.otherTexts, 0);
  EXPECT_LE(texts.size(), 2u);
  EXPECT_EQ(user.MostAtOnce(), 1);
  ASSERT_FALSE(texts.empty());
  EXPECT_NE(texts.back().find(": 3, 4, 5 and 250 other codes ("), std::string::npos) << texts.back();
}

// A document end is served only when a document start was answered since the
// last document end: any other would reopen the fax details of a fax already
// queued, whose Cancel deletes it.
TEST_F(DriverLinkTest, ADocumentEndIsServedOnlyAfterAnAnsweredStart) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  ErrorBoxWatcher watcher;
  int starts = 0;
  std::vector<std::string> ends;
  link.OnDocStart = [&](TComponent*) { link.FileName = "C:\\OUT\\FAX0000" + std::to_string(starts++) + ".APF"; };
  link.OnDocEnd = [&](TComponent*) { ends.push_back(link.FileName); };
  auto ignored = [&] { return CountReported(watcher.Texts()).ignoredEnds; };

  WithClient([] { vz::tools::PipeDocEnd(); return 0; });
  EXPECT_TRUE(PumpUntil([&] { return ignored() == 1; }));
  EXPECT_TRUE(ends.empty());

  // The end of a document, then one end too many.
  WithClient([] {
    vz::tools::PipeDocStart("a");
    vz::tools::PipeDocEnd();
    vz::tools::PipeDocEnd();
    return 0;
  });
  EXPECT_TRUE(PumpUntil([&] { return ignored() == 2; }));
  EXPECT_EQ(ends, (std::vector<std::string>{"C:\\OUT\\FAX00000.APF"}));

  // Two starts, then two ends: the first end is the later document's.
  WithClient([] {
    vz::tools::PipeDocStart("b");
    vz::tools::PipeDocStart("c");
    vz::tools::PipeDocEnd();
    vz::tools::PipeDocEnd();
    return 0;
  });
  EXPECT_TRUE(PumpUntil([&] { return ignored() == 3; }));
  EXPECT_EQ(ends, (std::vector<std::string>{"C:\\OUT\\FAX00000.APF", "C:\\OUT\\FAX00002.APF"}));
  watcher.Stop();
  EXPECT_EQ(CountReported(watcher.Texts()).otherTexts, 0);
  EXPECT_EQ(CountReported(watcher.Texts()).unknown, 0);
}

TEST_F(DriverLinkTest, WindowTransportIgnoresADocumentEndWithoutAStart) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtWindow);
  ErrorBoxWatcher watcher;
  int ends = 0;
  link.OnDocEnd = [&](TComponent*) { ++ends; };
  WithClient([] { vz::tools::WindowDocEnd(2000); return 0; });
  EXPECT_TRUE(PumpUntil([&] { return CountReported(watcher.Texts()).ignoredEnds == 1; }));
  EXPECT_EQ(ends, 0);
  WithClient([] {
    vz::tools::WindowDocStart("doc", 2000);
    vz::tools::WindowDocEnd(2000);
    return 0;
  });
  EXPECT_EQ(ends, 1);
}

// The user this process runs as, as "S-1-5-21-...", read without the code under test.
std::string CurrentUserSidText() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "<no token>";
  const vz::win::Handle owned(token);
  unsigned char buffer[512] = {};
  DWORD size = 0;
  char* text = nullptr;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) ||
      !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
    return "<no user>";
  const std::string sid(text);
  LocalFree(text);
  return sid;
}

// The pipe's descriptor (owner, group and access list) as the system hands it
// back to a client; null when it cannot be had.
struct LocalFreed {
  void operator()(void* p) const { LocalFree(p); }
};
std::unique_ptr<void, LocalFreed> ReadPipeDescriptor() {
  if (!WaitNamedPipeA(proto::kPipeName, 5000)) return nullptr;
  const vz::win::Handle client(CreateFileA(proto::kPipeName, READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (client.Get() == INVALID_HANDLE_VALUE ||
      GetSecurityInfo(client.Get(), SE_KERNEL_OBJECT,
                      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                      nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return nullptr;
  return std::unique_ptr<void, LocalFreed>(descriptor);
}

// The access list in the system's descriptor language.
std::string AccessListText(void* descriptor) {
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                            &text, nullptr))
    return "<not convertible>";
  const std::unique_ptr<char, LocalFreed> owned(text);
  return text;
}

// "granted" when the system's own access check, run on the descriptor read back
// from the pipe, lets this process's user read and write it. (Wine checks no access
// list when a pipe is opened, and its check ignores a user made deny-only, both
// measured here: a stranger's refusal cannot be played under it.)
std::string AccessForThisUser(void* descriptor) {
  HANDLE process = nullptr;
  HANDLE impersonation = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process)) return "<no token>";
  const vz::win::Handle processToken(process);
  if (!DuplicateToken(process, SecurityImpersonation, &impersonation)) return "<no impersonation token>";
  const vz::win::Handle token(impersonation);
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  PRIVILEGE_SET privileges{};
  DWORD privilegesSize = sizeof(privileges);
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!AccessCheck(descriptor, token.Get(), FILE_GENERIC_READ | FILE_GENERIC_WRITE, &mapping, &privileges,
                   &privilegesSize, &granted, &status))
    return "<check failed>";
  return status ? "granted" : "denied";
}

TEST_F(DriverLinkTest, OnlyTheSystemTheAdministratorsAndThisUserMayOpenThePipe) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  const std::string sid = CurrentUserSidText();
  ASSERT_EQ(sid.rfind("S-1-5-", 0), 0u) << sid;
  // A protected list: network logons denied first, then the system, the
  // administrators and this user.
  const auto descriptor = ReadPipeDescriptor();
  ASSERT_NE(descriptor, nullptr);
  EXPECT_EQ(AccessListText(descriptor.get()), "D:P(D;;FA;;;NU)(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + sid + ")");
  EXPECT_EQ(AccessForThisUser(descriptor.get()), "granted");
  // The pipe still serves the user who runs the controller.
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("mine"); }), "C:\\DEFAULT.APF");
}

TEST_F(DriverLinkTest, MalformedRequestsAreServedFromTheBytesThatArrived) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  link.DocumentName = "stale";
  // Code, a length of 200, and only five characters.
  proto::Message request = proto::EncodeRequest(1, "short");
  request[1] = 200;
  std::vector<unsigned char> truncated(request.begin(), request.begin() + 7);
  const auto reply = WithClient([&] { return vz::tools::PipeExchange(truncated, true); });
  ASSERT_EQ(reply.size(), 257u);
  EXPECT_EQ(link.DocumentName, "short");

  // A message longer than 257 bytes is served from its first 257.
  const std::vector<unsigned char> oversized = Oversized(proto::EncodeRequest(1, "long one"), 400);
  const auto second = WithClient([&] { return vz::tools::PipeExchange(oversized, true); });
  ASSERT_EQ(second.size(), 257u);
  EXPECT_EQ(link.DocumentName, "long one");

  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("good"); }), "C:\\DEFAULT.APF");
  EXPECT_EQ(link.DocumentName, "good");
}

// A driver that sends a message longer than 257 bytes and reads the reply only a while
// later: the rest of its message, left in the pipe, is no sign that it has gone, and
// the reply waits for it. Returns the reply's size (0: the controller let go first).
std::size_t OversizedThenSlowReader() {
  const HANDLE pipe = CreateFileA(proto::kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return 0;
  const vz::win::Handle owned(pipe);
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  const std::vector<unsigned char> request = Oversized(proto::EncodeRequest(1, "long one"), 400);
  DWORD written = 0;
  if (!WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &written, nullptr)) return 0;
  // Half a second for the controller to let go: a controller that does not, waits.
  const auto until = std::chrono::steady_clock::now() + 500ms;
  DWORD available = 0;
  while (std::chrono::steady_clock::now() < until &&
         PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
    Sleep(5);
  unsigned char reply[proto::kMessageSize];
  DWORD got = 0;
  if (!ReadFile(pipe, reply, sizeof reply, &got, nullptr) && GetLastError() != ERROR_MORE_DATA) return 0;
  return got;
}

TEST_F(DriverLinkTest, TheReplyToALongMessageWaitsForADriverThatReadsLate) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  EXPECT_EQ(WithClient(OversizedThenSlowReader), 257u);
  EXPECT_EQ(link.DocumentName, "long one");
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("good"); }), "C:\\DEFAULT.APF");
}

TEST_F(DriverLinkTest, SecondComponentCannotCreateThePipe) {
  TApdFaxDriverInterface first(nullptr, TDriverTransport::dtPipe);
  try {
    TApdFaxDriverInterface second(nullptr, TDriverTransport::dtPipe);
    FAIL() << "a second pipe was created";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Unable to create named pipe. Error:231");
  }
  // The first one still serves.
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("x"); }), "C:\\DEFAULT.APF");
}

TEST_F(DriverLinkTest, SemaphoreIsCreatedEmptyOrReleasedOnce) {
  {
    TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
    ASSERT_NE(link.Semaphore(), nullptr);
    vz::win::Handle seen(OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, proto::kSemaphoreName));
    ASSERT_TRUE(seen);
    EXPECT_EQ(WaitForSingleObject(seen.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  }
  // Gone with the component that created it.
  EXPECT_EQ(OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, proto::kSemaphoreName), nullptr);

  vz::win::Handle driverSide(CreateSemaphoreA(nullptr, 0, 1, proto::kSemaphoreName));
  ASSERT_TRUE(driverSide);
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  EXPECT_EQ(link.Semaphore(), nullptr);
  EXPECT_EQ(WaitForSingleObject(driverSide.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(driverSide.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(DriverLinkTest, WhileAHandlerRunsNoSecondClientConnects) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  std::string second;
  link.OnDocEnd = [&](TComponent*) {
    second = std::async(std::launch::async, [] {
      try {
        return "connected: " + vz::tools::PipeDocStart("second", QuickTimeout());
      } catch (const DriverClientError& e) {
        return std::string(e.what());
      }
    }).get();
  };
  WithClient([] {
    vz::tools::PipeDocStart("first");
    vz::tools::PipeDocEnd();
    return 0;
  });
  EXPECT_EQ(second.rfind("no fax controller is listening", 0), 0u) << second;
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("third"); }), "C:\\DEFAULT.APF");
}

TEST_F(DriverLinkTest, DestroyingWhileWaitingForAClientReturnsAndFreesThePipe) {
  for (int i = 0; i < 3; ++i) {
    auto link = std::make_unique<TApdFaxDriverInterface>(nullptr, TDriverTransport::dtPipe);
    // Listening: the thread waits for a client.
    EXPECT_TRUE(WaitNamedPipeA(proto::kPipeName, 5000));
    link.reset();
  }
  EXPECT_THROW(vz::tools::PipeDocStart("nobody", QuickTimeout()), DriverClientError);
}

TEST_F(DriverLinkTest, DestroyingDuringAHandOffNeitherHangsNorRunsTheHandler) {
  auto link = std::make_unique<TApdFaxDriverInterface>(nullptr, TDriverTransport::dtPipe);
  std::atomic<bool> ran{false};
  link->OnDocStart = [&](TComponent*) { ran = true; };
  // This thread does not handle messages, so the monitor thread's hand-off waits.
  auto client = std::async(std::launch::async, [] {
    try {
      return vz::tools::PipeDocStart("late");
    } catch (const DriverClientError&) {
      return std::string("<refused>");
    }
  });
  ASSERT_TRUE(WaitForHandOff());
  link.reset();
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(client.get(), "<refused>");
}

// Stands for whatever the program frees before the driver channel at shutdown:
// freed first (newest first), it waits until a document start is handed to the
// GUI thread, so the request is in flight while the rest is released.
class HoldUntilHandOff : public TComponent {
 public:
  using TComponent::TComponent;
  ~HoldUntilHandOff() override {
    if (!WaitForHandOff()) ExitProcess(6);
  }
};

// The program ends while a document start is in flight: the thread is stopped
// before the application object lets go of its window and pointer, the driver
// gets a reply, a closed connection or no controller, and the program neither
// hangs nor crashes. Run in a child process, which ends with 0 when all is well.
TEST_F(DriverLinkTest, ShutdownWithADocumentStartInFlight) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto* link = new TApdFaxDriverInterface(app_, TDriverTransport::dtPipe);
        std::atomic<int> starts{0};
        link->OnDocStart = [&starts](TComponent*) { ++starts; };
        new HoldUntilHandOff(app_);
        auto driver = std::async(std::launch::async, [] {
          std::vector<std::string> outcomes;
          do outcomes.push_back(OutcomeText("in flight"));
          while (outcomes.back() != "refused" && outcomes.size() < 100000);
          return outcomes;
        });
        while (starts == 0) {
          Application->ProcessMessages();
          MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
        delete app_;
        if (Application != nullptr) ExitProcess(7);
        if (driver.wait_for(20s) != std::future_status::ready) ExitProcess(8);
        for (const std::string& outcome : driver.get())
          if (outcome != "reply C:\\DEFAULT.APF" && outcome != "closed" && outcome != "refused")
            ExitProcess(9);
        ExitProcess(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// An error that escapes a document handler ends the program with exit code 1 after
// the "Application Error" box. Run in a child process; a robot thread there closes
// the box when it shows the handler's message (and ends with 2 when it does not).
TEST_F(DriverLinkTest, HandlerErrorEndsTheProgramAfterTheApplicationErrorBox) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::thread robot([] {
          for (int i = 0; i < 1000; ++i) {
            HWND box = FindWindowA("#32770", "Application Error");
            if (box != nullptr) {
              char text[512] = {};
              GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
              if (std::string(text) != "handler failed") ExitProcess(2);
              PostMessageA(box, WM_COMMAND, IDOK, 0);
              return;
            }
            Sleep(10);
          }
          ExitProcess(3);
        });
        robot.detach();
        TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
        link.OnDocStart = [](TComponent*) { throw Exception("handler failed"); };
        std::thread client([] {
          try {
            vz::tools::PipeDocStart("doomed");
          } catch (const DriverClientError&) {
          }
        });
        client.detach();
        for (;;) {
          Application->ProcessMessages();
          MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
      },
      ::testing::ExitedWithCode(1), "");
}

TEST_F(DriverLinkTest, WindowTransportServesStartAndEnd) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtWindow);
  ASSERT_NE(link.PipeWindow(), nullptr);
  char title[256] = {};
  GetWindowTextA(link.PipeWindow(), title, sizeof(title));
  EXPECT_STREQ(title, "\\\\.\\pipe\\ApFaxCnv");
  int ends = 0;
  link.OnDocStart = [&](TComponent*) { link.FileName = "C:\\OUT\\FAX00001.APF"; };
  link.OnDocEnd = [&](TComponent*) { ++ends; };
  EXPECT_EQ(WithClient([] { return vz::tools::WindowDocStart("Window doc", 2000); }),
            "C:\\OUT\\FAX00001.APF");
  EXPECT_EQ(link.DocumentName, "Window doc");
  WithClient([] { vz::tools::WindowDocEnd(2000); return 0; });
  EXPECT_EQ(ends, 1);
}

TEST_F(DriverLinkTest, WindowTransportReportsHandlerErrorsAndKeepsServing) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtWindow);
  bool fail = true;
  link.OnDocStart = [&](TComponent*) {
    if (fail) throw Exception("handler failed");
    link.FileName = "C:\\OK.APF";
  };
  auto boxText = CloseErrorBoxWhenShown();
  WithClient([] { return vz::tools::WindowDocStart("one", 2000); });
  EXPECT_EQ(boxText.get(), "handler failed");
  fail = false;
  EXPECT_EQ(WithClient([] { return vz::tools::WindowDocStart("two", 2000); }), "C:\\OK.APF");
}

}  // namespace
