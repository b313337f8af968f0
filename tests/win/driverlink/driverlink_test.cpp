// The driver channel under Wine: a client thread plays the fax printer driver
// while the test's main thread is the GUI thread that runs the handlers.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
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
}

TEST_F(DriverLinkTest, NothingAndDocEndGetNoReplyAndTheNextClientIsServed) {
  TApdFaxDriverInterface link(nullptr, TDriverTransport::dtPipe);
  int ends = 0;
  link.OnDocEnd = [&](TComponent*) { ++ends; };
  const auto nothing = WithClient(
      [] { return vz::tools::PipeExchange(Bytes(proto::EncodeRequest(0, "")), true); });
  EXPECT_TRUE(nothing.empty());
  const auto end = WithClient(
      [] { return vz::tools::PipeExchange(Bytes(proto::EncodeRequest(2, "")), true); });
  EXPECT_TRUE(end.empty());
  EXPECT_EQ(ends, 1);
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
  std::vector<unsigned char> oversized = Bytes(proto::EncodeRequest(1, "long one"));
  oversized.resize(400, 'z');
  const auto second = WithClient([&] { return vz::tools::PipeExchange(oversized, true); });
  ASSERT_EQ(second.size(), 257u);
  EXPECT_EQ(link.DocumentName, "long one");

  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("good"); }), "C:\\DEFAULT.APF");
  EXPECT_EQ(link.DocumentName, "good");
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
  WithClient([] { vz::tools::PipeDocEnd(); return 0; });
  EXPECT_EQ(second.rfind("no fax controller is listening", 0), 0u) << second;
  EXPECT_EQ(WithClient([] { return vz::tools::PipeDocStart("third"); }), "C:\\DEFAULT.APF");
}

TEST_F(DriverLinkTest, DestroyingWhileWaitingForAClientReturnsAndFreesThePipe) {
  for (int i = 0; i < 3; ++i) {
    auto link = std::make_unique<TApdFaxDriverInterface>(nullptr, TDriverTransport::dtPipe);
    Sleep(20);
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
  Sleep(300);
  link.reset();
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(client.get(), "<refused>");
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
