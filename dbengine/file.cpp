// Host files: POSIX descriptors with open-file-description locks, or Win32 handles
// with LockFileEx. Both give per-opener byte-range locks that conflict between two
// openers of the same file, even inside one process.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "common/text.hpp"
#include "dbengine/file.hpp"
#include "dbengine/filesystem.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#endif

namespace vz::db {

bool File::Lock(std::uint64_t offset, std::uint64_t length, LockKind kind, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  int pauseUs = 50;
  while (!TryLock(offset, length, kind)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
    pauseUs = std::min(pauseUs * 2, 5000);
  }
  return true;
}

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

// The file position of a synchronous read, write or lock.
OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

class HostFile : public File {
 public:
  HostFile(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~HostFile() override { CloseHandle(handle_); }

  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      OVERLAPPED ov = At(offset + done);
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
      DWORD got = 0;
      if (!ReadFile(handle_, static_cast<char*>(buf) + done, want, &got, &ov)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        throw DbError("cannot read " + path_ + ": " + LastErrorText());
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      OVERLAPPED ov = At(offset + done);
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
      DWORD put = 0;
      if (!WriteFile(handle_, static_cast<const char*>(buf) + done, want, &put, &ov) || put == 0)
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
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_))
      throw DbError("cannot truncate " + path_ + ": " + LastErrorText());
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
  HANDLE handle_;
  std::string path_;
};

#else

std::string ErrnoText(int err) { return std::strerror(err); }

// A blocking lock request bounded in time: a timer of this thread sends it a signal
// whose handler does nothing, installed without SA_RESTART, so the request returns
// EINTR when the time is up. Not armed (the caller polls instead) when the signal is
// taken by the program, or the timer cannot be made.
class KernelWait {
 public:
  explicit KernelWait(int waitMs) : deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs)) {
    const int signo = Signal();
    if (signo == 0) return;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    if (pthread_sigmask(SIG_UNBLOCK, &set, &oldMask_) != 0) return;
    masked_ = true;
    struct sigevent ev {};
    ev.sigev_notify = SIGEV_THREAD_ID;
    ev.sigev_signo = signo;
    ev._sigev_un._tid = static_cast<pid_t>(::syscall(SYS_gettid));
    if (::timer_create(CLOCK_MONOTONIC, &ev, &timer_) != 0) return;
    made_ = true;
    // Every 20 ms after the first time-out, in case a signal came while not blocked.
    struct itimerspec when {};
    when.it_value.tv_sec = waitMs / 1000;
    when.it_value.tv_nsec = static_cast<long>(waitMs % 1000) * 1000000L;
    when.it_interval.tv_nsec = 20 * 1000000L;
    armed_ = ::timer_settime(timer_, 0, &when, nullptr) == 0;
  }
  ~KernelWait() {
    if (made_) ::timer_delete(timer_);
    if (masked_) pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
  }
  KernelWait(const KernelWait&) = delete;
  KernelWait& operator=(const KernelWait&) = delete;

  bool Armed() const { return armed_; }
  bool Over() const { return std::chrono::steady_clock::now() >= deadline_; }

 private:
  static void Nothing(int) {}
  // The signal, its handler installed once; 0 when the program has its own handler.
  static int Signal() {
    static const int signo = [] {
      const int s = SIGRTMIN + 4;
      struct sigaction now {};
      if (sigaction(s, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) return 0;
      struct sigaction sa {};
      sa.sa_handler = Nothing;
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = 0;
      return sigaction(s, &sa, nullptr) == 0 ? s : 0;
    }();
    return signo;
  }

  std::chrono::steady_clock::time_point deadline_;
  sigset_t oldMask_{};
  timer_t timer_{};
  bool masked_ = false, made_ = false, armed_ = false;
};

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

  bool Lock(std::uint64_t offset, std::uint64_t length, LockKind kind, int waitMs) override {
    const short type = kind == LockKind::kShared ? F_RDLCK : F_WRLCK;
    if (SetLock(offset, length, type)) return true;
    if (waitMs <= 0) return false;
    KernelWait wait(waitMs);
    if (!wait.Armed()) return File::Lock(offset, length, kind, waitMs);
    struct flock fl = Range(offset, length, type);
    while (::fcntl(fd_, F_OFD_SETLKW, &fl) != 0) {
      if (errno == EINTR && !wait.Over()) continue;
      if (errno == EINTR || errno == EDEADLK) return false;
      throw DbError("cannot lock " + path_ + ": " + ErrnoText(errno));
    }
    return true;
  }

  const std::string& Path() const override { return path_; }

 private:
  static struct flock Range(std::uint64_t offset, std::uint64_t length, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    fl.l_pid = 0;  // required for open-file-description locks
    return fl;
  }

  bool SetLock(std::uint64_t offset, std::uint64_t length, short type) {
    struct flock fl = Range(offset, length, type);
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
