// In-memory and fault-injecting file systems.
#include "dbengine/filesystem.hpp"

#include <algorithm>
#include <cstring>

namespace vz::db {

struct MemoryFileSystem::Node {
  struct Lock {
    const void* owner;
    std::uint64_t offset;
    std::uint64_t length;
    LockKind kind;
  };
  std::string bytes;
  std::vector<Lock> locks;
};

namespace {

bool Overlaps(std::uint64_t a, std::uint64_t alen, std::uint64_t b, std::uint64_t blen) {
  return a < b + blen && b < a + alen;
}

class MemoryFile : public File {
 public:
  MemoryFile(std::shared_ptr<MemoryFileSystem::Node> node, std::string path, bool writable)
      : node_(std::move(node)), path_(std::move(path)), writable_(writable) {}
  ~MemoryFile() override {
    auto& locks = node_->locks;
    locks.erase(std::remove_if(locks.begin(), locks.end(), [this](const auto& l) { return l.owner == this; }),
                locks.end());
  }

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    const std::string& b = node_->bytes;
    if (offset >= b.size()) return 0;
    const std::size_t got = std::min<std::uint64_t>(n, b.size() - offset);
    std::memcpy(buf, b.data() + offset, got);
    return got;
  }
  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    if (!writable_) throw DbError("cannot write " + path_ + ": opened read-only");
    if (offset + n > (std::uint64_t{1} << 32)) throw DbError("cannot write " + path_ + ": too large");
    std::string& b = node_->bytes;
    if (b.size() < offset + n) b.resize(offset + n, '\0');
    std::memcpy(b.data() + offset, buf, n);
  }
  std::uint64_t Size() override { return node_->bytes.size(); }
  void Truncate(std::uint64_t size) override {
    if (!writable_) throw DbError("cannot truncate " + path_ + ": opened read-only");
    node_->bytes.resize(size, '\0');
  }
  void Flush() override {}
  bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
    for (const auto& l : node_->locks) {
      if (l.owner == this || !Overlaps(l.offset, l.length, offset, length)) continue;
      if (l.kind == LockKind::kExclusive || kind == LockKind::kExclusive) return false;
    }
    Unlock(offset, length);
    node_->locks.push_back({this, offset, length, kind});
    return true;
  }
  void Unlock(std::uint64_t offset, std::uint64_t length) override {
    auto& locks = node_->locks;
    locks.erase(std::remove_if(locks.begin(), locks.end(),
                               [&](const auto& l) {
                                 return l.owner == this && Overlaps(l.offset, l.length, offset, length);
                               }),
                locks.end());
  }
  const std::string& Path() const override { return path_; }

 private:
  std::shared_ptr<MemoryFileSystem::Node> node_;
  std::string path_;
  bool writable_;
};

}  // namespace

MemoryFileSystem::MemoryFileSystem() = default;
MemoryFileSystem::~MemoryFileSystem() = default;

std::unique_ptr<File> MemoryFileSystem::Open(const std::string& path, OpenMode mode) {
  auto it = files_.find(path);
  if (mode == OpenMode::kCreate) {
    if (it == files_.end()) it = files_.emplace(path, std::make_shared<Node>()).first;
    it->second->bytes.clear();
  } else if (it == files_.end()) {
    throw DbError("cannot open " + path + ": no such file");
  }
  return std::make_unique<MemoryFile>(it->second, path, mode != OpenMode::kReadOnly);
}

bool MemoryFileSystem::Exists(const std::string& path) { return files_.count(path) != 0; }

void MemoryFileSystem::Rename(const std::string& from, const std::string& to) {
  auto it = files_.find(from);
  if (it == files_.end()) throw DbError("cannot rename " + from + ": no such file");
  auto node = it->second;
  files_.erase(it);
  files_[to] = node;
}

void MemoryFileSystem::Remove(const std::string& path) {
  if (files_.erase(path) == 0) throw DbError("cannot delete " + path + ": no such file");
}

std::string& MemoryFileSystem::Bytes(const std::string& path) {
  auto& node = files_[path];
  if (!node) node = std::make_shared<Node>();
  return node->bytes;
}

namespace {

class FaultFile : public ForwardingFile {
 public:
  FaultFile(std::unique_ptr<File> inner, std::shared_ptr<FaultFileSystem::Counters> counters)
      : ForwardingFile(std::move(inner)), counters_(std::move(counters)) {}

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    const std::uint64_t nth = ++counters_->reads;
    if (counters_->plan.failRead != 0 && nth == counters_->plan.failRead)
      throw DbError("cannot read " + Path() + ": injected fault");
    return ForwardingFile::ReadAt(offset, buf, n);
  }
  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    const std::uint64_t nth = ++counters_->writes;
    const auto& plan = counters_->plan;
    if (counters_->crashed) throw DbError("cannot write " + Path() + ": injected fault");
    if (plan.failWrite != 0 && nth == plan.failWrite) {
      const std::size_t torn = std::min(plan.tornBytes, n);
      if (torn > 0) ForwardingFile::WriteAt(offset, buf, torn);
      if (plan.crash) counters_->crashed = true;
      throw DbError("cannot write " + Path() + ": injected fault");
    }
    ForwardingFile::WriteAt(offset, buf, n);
  }
  void Truncate(std::uint64_t size) override {
    if (counters_->crashed) throw DbError("cannot truncate " + Path() + ": injected fault");
    ForwardingFile::Truncate(size);
  }
  void Flush() override {
    if (counters_->crashed) throw DbError("cannot flush " + Path() + ": injected fault");
    ForwardingFile::Flush();
  }

 private:
  std::shared_ptr<FaultFileSystem::Counters> counters_;
};

}  // namespace

FaultFileSystem::FaultFileSystem(FileSystem& inner) : FaultFileSystem(inner, Plan{}) {}

FaultFileSystem::FaultFileSystem(FileSystem& inner, Plan plan)
    : inner_(inner), counters_(std::make_shared<Counters>()) {
  counters_->plan = plan;
}

void FaultFileSystem::SetPlan(Plan plan) {
  counters_->plan = plan;
  counters_->writes = 0;
  counters_->reads = 0;
  counters_->crashed = false;
}

std::unique_ptr<File> FaultFileSystem::Open(const std::string& path, OpenMode mode) {
  if (counters_->crashed && mode != OpenMode::kReadOnly) throw DbError("cannot open " + path + ": injected fault");
  return std::make_unique<FaultFile>(inner_.Open(path, mode), counters_);
}

bool FaultFileSystem::Exists(const std::string& path) { return inner_.Exists(path); }

void FaultFileSystem::Rename(const std::string& from, const std::string& to) {
  if (counters_->crashed) throw DbError("cannot rename " + from + ": injected fault");
  inner_.Rename(from, to);
}

void FaultFileSystem::Remove(const std::string& path) {
  if (counters_->crashed) throw DbError("cannot delete " + path + ": injected fault");
  inner_.Remove(path);
}

}  // namespace vz::db
