// Host files: POSIX descriptors with open-file-description locks, or Win32 handles
// with LockFileEx. Both give per-opener byte-range locks that conflict between two
// openers of the same file, even inside one process.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/text.hpp"
#include "dbengine/file.hpp"
#include "dbengine/filesystem.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vz::db {

std::string HostPath(const std::string& path) {
#ifdef _WIN32
  return path;
#else
  std::string out = path;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
#endif
}

namespace {

#ifdef _WIN32

std::string LastErrorText() { return Format("error %lu", static_cast<unsigned long>(GetLastError())); }

// The file position of a lock.
OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

// A handle is used by one thread at a time, so reads and writes go where the file
// pointer is put first. A read or write given its position in an OVERLAPPED would
// cost a call to the server under Wine, to report a completion nobody waits for.
class HostFile : public File {
 public:
  HostFile(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~HostFile() override { CloseHandle(handle_); }

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    SeekTo(offset, "read");
    std::size_t done = 0;
    while (done < n) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
      DWORD got = 0;
      if (!ReadFile(handle_, static_cast<char*>(buf) + done, want, &got, nullptr))
        throw DbError("cannot read " + path_ + ": " + LastErrorText());
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    SeekTo(offset, "write");
    std::size_t done = 0;
    while (done < n) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
      DWORD put = 0;
      if (!WriteFile(handle_, static_cast<const char*>(buf) + done, want, &put, nullptr) || put == 0)
        throw DbError("cannot write " + path_ + ": " + LastErrorText());
      done += put;
    }
  }

  std::uint64_t Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_, &size)) throw DbError("cannot size " + path_ + ": " + LastErrorText());
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  void Truncate(std::uint64_t size) override {
    SeekTo(size, "truncate");
    if (!SetEndOfFile(handle_)) throw DbError("cannot truncate " + path_ + ": " + LastErrorText());
  }

  void Flush() override {
    if (!FlushFileBuffers(handle_)) throw DbError("cannot flush " + path_ + ": " + LastErrorText());
  }

  bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
    OVERLAPPED ov = At(offset);
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
    if (kind == LockKind::kExclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
    if (LockFileEx(handle_, flags, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &ov))
      return true;
    const DWORD err = GetLastError();
    if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING) return false;
    throw DbError("cannot lock " + path_ + ": " + LastErrorText());
  }

  void Unlock(std::uint64_t offset, std::uint64_t length) override {
    OVERLAPPED ov = At(offset);
    UnlockFileEx(handle_, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &ov);
  }

  const std::string& Path() const override { return path_; }

 private:
  void SeekTo(std::uint64_t offset, const char* what) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN))
      throw DbError(std::string("cannot ") + what + " " + path_ + ": " + LastErrorText());
  }

  HANDLE handle_;
  std::string path_;
};

#else

std::string ErrnoText(int err) { return std::strerror(err); }

class HostFile : public File {
 public:
  HostFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~HostFile() override { ::close(fd_); }

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd_, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw DbError("cannot read " + path_ + ": " + ErrnoText(errno));
      }
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t put =
          ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
      if (put < 0) {
        if (errno == EINTR) continue;
        throw DbError("cannot write " + path_ + ": " + ErrnoText(errno));
      }
      done += static_cast<std::size_t>(put);
    }
  }

  std::uint64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw DbError("cannot size " + path_ + ": " + ErrnoText(errno));
    return static_cast<std::uint64_t>(st.st_size);
  }

  void Truncate(std::uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
      throw DbError("cannot truncate " + path_ + ": " + ErrnoText(errno));
  }

  void Flush() override {
    if (::fdatasync(fd_) != 0) throw DbError("cannot flush " + path_ + ": " + ErrnoText(errno));
  }

  bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
    return SetLock(offset, length, kind == LockKind::kShared ? F_RDLCK : F_WRLCK);
  }

  void Unlock(std::uint64_t offset, std::uint64_t length) override { SetLock(offset, length, F_UNLCK); }

  const std::string& Path() const override { return path_; }

 private:
  bool SetLock(std::uint64_t offset, std::uint64_t length, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    fl.l_pid = 0;  // required for open-file-description locks
    while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EACCES) return false;
      throw DbError("cannot lock " + path_ + ": " + ErrnoText(errno));
    }
    return true;
  }

  int fd_;
  std::string path_;
};

#endif

class HostFileSystemImpl : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override { return OpenHostFile(path, mode); }
  bool Exists(const std::string& path) override { return HostFileExists(path); }
  void Rename(const std::string& from, const std::string& to) override {
#ifdef _WIN32
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
      throw DbError("cannot rename " + from + " to " + to + ": " + LastErrorText());
#else
    if (std::rename(HostPath(from).c_str(), HostPath(to).c_str()) != 0)
      throw DbError("cannot rename " + from + " to " + to + ": " + ErrnoText(errno));
#endif
  }
  void Remove(const std::string& path) override {
#ifdef _WIN32
    if (!DeleteFileA(path.c_str())) throw DbError("cannot delete " + path + ": " + LastErrorText());
#else
    if (::unlink(HostPath(path).c_str()) != 0) throw DbError("cannot delete " + path + ": " + ErrnoText(errno));
#endif
  }
};

}  // namespace

std::unique_ptr<File> OpenHostFile(const std::string& path, OpenMode mode) {
#ifdef _WIN32
  const DWORD access = mode == OpenMode::kReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  const DWORD disposition = mode == OpenMode::kCreate ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw DbError("cannot open " + path + ": " + LastErrorText());
  return std::make_unique<HostFile>(h, path);
#else
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case OpenMode::kReadWrite: flags |= O_RDWR; break;
    case OpenMode::kReadOnly: flags |= O_RDONLY; break;
  }
  int fd;
  do {
    fd = ::open(HostPath(path).c_str(), flags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw DbError("cannot open " + path + ": " + ErrnoText(errno));
  struct stat st {};
  if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw DbError("cannot open " + path + ": not a regular file");
  }
  return std::make_unique<HostFile>(fd, path);
#endif
}

bool HostFileExists(const std::string& path) {
#ifdef _WIN32
  const DWORD attrs = GetFileAttributesA(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
#else
  struct stat st {};
  return ::stat(HostPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}

FileSystem& HostFileSystem() {
  static HostFileSystemImpl fs;
  return fs;
}

}  // namespace vz::db
