#pragma once
// The fax printer driver's side of the driver channel, for the stand-in driver
// and the benchmarks: one request per connection, as the real driver does.
#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "driverlink/pipeproto.hpp"

namespace vz::tools {

class DriverClientError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PipeClientOptions {
  std::string pipeName = vz::driverlink::kPipeName;
  // How long to wait for a controller that is not listening yet or busy.
  DWORD timeoutMs = vz::driverlink::kPipeTimeoutMs;
};

// Sends one message over a fresh connection; when `expectReply`, reads one message
// back (empty when the controller disconnected without answering).
std::vector<unsigned char> PipeExchange(const std::vector<unsigned char>& message, bool expectReply,
                                        const PipeClientOptions& options = {});

// Document start over the pipe: returns the file name from the reply.
std::string PipeDocStart(const std::string& documentName, const PipeClientOptions& options = {});

// A document start that may meet a controller going away: answered, connected
// but let go without a reply, or no controller listening within the time-out.
struct DocStartOutcome {
  enum Kind { kReply, kClosed, kRefused } kind = kRefused;
  std::string fileName;
};
DocStartOutcome TryPipeDocStart(const std::string& documentName, const PipeClientOptions& options = {});
void PipeDocEnd(const PipeClientOptions& options = {});

// The window-message transport: finds the controller's hidden window.
HWND FindDriverWindow(DWORD timeoutMs);
std::string WindowDocStart(const std::string& documentName, DWORD timeoutMs);
void WindowDocEnd(DWORD timeoutMs);

}  // namespace vz::tools
