#pragma once
// In-memory File for index tests. Several MemFile objects over one MemStorage behave as
// separate openers of one file (their locks conflict); faults can be injected into reads,
// writes and flushes.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dbengine/file.hpp"

namespace vz::db::test {

struct MemStorage {
  std::vector<unsigned char> bytes;
  struct Lock {
    std::set<int> shared;
    int exclusive = 0;
  };
  std::map<std::uint64_t, Lock> locks;
  int nextOpener = 1;
  // Fault injection: the write that would be number failWriteAt (1-based, counted from
  // when it was set) throws, and so does every one after it while failForever is set.
  long writes = 0;
  long failWriteAt = 0;
  bool failForever = false;
  bool failReads = false;
  long flushes = 0;
};

class MemFile : public File {
 public:
  explicit MemFile(std::shared_ptr<MemStorage> storage, std::string path = "mem.cdx")
      : storage_(std::move(storage)), id_(storage_->nextOpener++), path_(std::move(path)) {}
  ~MemFile() override {
    for (auto& [off, lock] : storage_->locks) {
      lock.shared.erase(id_);
      if (lock.exclusive == id_) lock.exclusive = 0;
    }
  }

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    if (storage_->failReads) throw DbError("injected read failure");
    const auto& b = storage_->bytes;
    if (offset >= b.size()) return 0;
    const std::size_t got = std::min<std::size_t>(n, b.size() - offset);
    std::memcpy(buf, b.data() + offset, got);
    return got;
  }
  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    ++storage_->writes;
    if (storage_->failWriteAt != 0 &&
        (storage_->writes == storage_->failWriteAt || (storage_->failForever && storage_->writes > storage_->failWriteAt))) {
      throw DbError("injected write failure");
    }
    auto& b = storage_->bytes;
    if (offset + n > b.size()) b.resize(offset + n);
    std::memcpy(b.data() + offset, buf, n);
  }
  std::uint64_t Size() override { return storage_->bytes.size(); }
  void Truncate(std::uint64_t size) override { storage_->bytes.resize(size); }
  void Flush() override { ++storage_->flushes; }
  bool TryLock(std::uint64_t offset, std::uint64_t, LockKind kind) override {
    auto& l = storage_->locks[offset];
    if (kind == LockKind::kShared) {
      if (l.exclusive != 0 && l.exclusive != id_) return false;
      if (l.exclusive == id_) l.exclusive = 0;
      l.shared.insert(id_);
      return true;
    }
    if (l.exclusive != 0 && l.exclusive != id_) return false;
    for (int s : l.shared) {
      if (s != id_) return false;
    }
    l.shared.erase(id_);
    l.exclusive = id_;
    return true;
  }
  void Unlock(std::uint64_t offset, std::uint64_t) override {
    auto& l = storage_->locks[offset];
    l.shared.erase(id_);
    if (l.exclusive == id_) l.exclusive = 0;
  }
  const std::string& Path() const override { return path_; }

  int Id() const { return id_; }

 private:
  std::shared_ptr<MemStorage> storage_;
  int id_;
  std::string path_;
};

inline std::shared_ptr<MemStorage> NewStorage(std::vector<unsigned char> bytes = {}) {
  auto s = std::make_shared<MemStorage>();
  s->bytes = std::move(bytes);
  return s;
}

inline std::unique_ptr<File> Opener(const std::shared_ptr<MemStorage>& s) { return std::make_unique<MemFile>(s); }

inline std::vector<unsigned char> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vz::db::test
