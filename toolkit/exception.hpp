#pragma once
// The toolkit's error classes: a raised failure carries the system's message text.
#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Misuse of a component (wrong owner, wrong state).
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

// A file that cannot be opened.
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};
