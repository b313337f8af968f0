#pragma once
// Where the engine finds its files. The table opens its DBF and CDX through a
// FileSystem so that tests and the fuzz target can run it over memory or inject
// faults; programs use the host file system.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbengine/file.hpp"

namespace vz::db {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual std::unique_ptr<File> Open(const std::string& path, OpenMode mode) = 0;
  virtual bool Exists(const std::string& path) = 0;
  // Renames, replacing an existing target; throws DbError on failure.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  virtual void Remove(const std::string& path) = 0;
};

// The host's files. Paths use '\' as the system does; on POSIX hosts the engine
// maps '\' to '/' so the same paths work in native builds.
FileSystem& HostFileSystem();
bool HostFileExists(const std::string& path);
std::string HostPath(const std::string& path);

// A file that passes every call to another; wrappers override what they watch.
class ForwardingFile : public File {
 public:
  explicit ForwardingFile(std::unique_ptr<File> inner) : inner_(std::move(inner)) {}
  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override { return inner_->ReadAt(offset, buf, n); }
  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override { inner_->WriteAt(offset, buf, n); }
  std::uint64_t Size() override { return inner_->Size(); }
  void Truncate(std::uint64_t size) override { inner_->Truncate(size); }
  void Flush() override { inner_->Flush(); }
  bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
    return inner_->TryLock(offset, length, kind);
  }
  void Unlock(std::uint64_t offset, std::uint64_t length) override { inner_->Unlock(offset, length); }
  const std::string& Path() const override { return inner_->Path(); }

 private:
  std::unique_ptr<File> inner_;
};

// A file system that passes every call to another, handing each file it opens to Wrap.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& inner) : inner_(inner) {}
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    return Wrap(inner_.Open(path, mode), path);
  }
  bool Exists(const std::string& path) override { return inner_.Exists(path); }
  void Rename(const std::string& from, const std::string& to) override { inner_.Rename(from, to); }
  void Remove(const std::string& path) override { inner_.Remove(path); }

 protected:
  virtual std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string&) { return file; }

 private:
  FileSystem& inner_;
};

// Files kept in memory, with byte-range locks that conflict between openers as host
// locks do. Used by tests and the fuzz target.
class MemoryFileSystem : public FileSystem {
 public:
  struct Node;
  MemoryFileSystem();
  ~MemoryFileSystem() override;
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
  bool Exists(const std::string& path) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
  // Direct access to a file's bytes (created empty when absent).
  std::string& Bytes(const std::string& path);

 private:
  std::map<std::string, std::shared_ptr<Node>> files_;
};

// Passes every call to another file system and fails the Nth read or write (counted
// over all files it opened, from 1). A failed write may first write part of its bytes
// (a torn write); in crash mode every later write fails too, as if the process died.
class FaultFileSystem : public FileSystem {
 public:
  struct Plan {
    std::uint64_t failWrite = 0;  // 0: never
    std::uint64_t failRead = 0;   // 0: never
    std::size_t tornBytes = 0;    // bytes of the failing write that still reach the file
    bool crash = false;           // writes after the failing one fail as well
  };
  struct Counters {
    std::uint64_t writes = 0;
    std::uint64_t reads = 0;
    bool crashed = false;
    Plan plan;
  };
  explicit FaultFileSystem(FileSystem& inner);
  FaultFileSystem(FileSystem& inner, Plan plan);
  void SetPlan(Plan plan);
  std::uint64_t Writes() const { return counters_->writes; }
  std::uint64_t Reads() const { return counters_->reads; }
  bool Crashed() const { return counters_->crashed; }

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
  bool Exists(const std::string& path) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;

 private:
  FileSystem& inner_;
  std::shared_ptr<Counters> counters_;
};

}  // namespace vz::db
