#pragma once
// The table engine's file layer: positioned reads and writes plus byte-range locks.
// Every byte the engine reads or writes goes through this interface, so tests can
// inject failures (fail the Nth write or read) and the engine can run on Linux
// (open-file-description locks) and Windows (LockFileEx) alike.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace vz::db {

// Any failure of the engine: I/O, format, lock or misuse. The message is for people.
class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class OpenMode { kCreate, kReadWrite, kReadOnly };
enum class LockKind { kShared, kExclusive };

class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at offset; returns the bytes read (fewer only at end of file).
  virtual std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) = 0;
  // Writes all n bytes at offset or throws.
  virtual void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) = 0;
  virtual std::uint64_t Size() = 0;
  virtual void Truncate(std::uint64_t size) = 0;
  // Pushes written data to the device (ordering point for crash safety).
  virtual void Flush() = 0;
  // Byte-range locks; TryLock returns false when another opener holds a conflicting lock.
  virtual bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) = 0;
  virtual void Unlock(std::uint64_t offset, std::uint64_t length) = 0;
  virtual const std::string& Path() const = 0;
};

// Opens a file of the host system (throws DbError naming the path on failure).
std::unique_ptr<File> OpenHostFile(const std::string& path, OpenMode mode);

}  // namespace vz::db
