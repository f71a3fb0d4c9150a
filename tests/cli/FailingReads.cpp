// Preloaded into tarnwick-cli by its tests: reads of one byte range of one
// file fail after a delay, the way a failing disk answers once the drive
// has given up retrying, so that the real program meets a failing disk
// without root or a device mapper. A read that starts before the range
// delivers the bytes up to it, as a disk does. Each failed read is written
// to a log; during a chosen one the process gets a signal: SIGINT, as from
// a user pressing Ctrl-C while the disk struggles, or the one chosen.
//
//   TARNWICK_FAILING_FILE          the file whose reads fail
//   TARNWICK_FAILING_FROM, _TO     its failing bytes, [from, to)
//   TARNWICK_FAILING_DELAY_MS      how long a failing read takes
//   TARNWICK_FAILING_INTERRUPT_AT  the failed read during which the signal comes
//   TARNWICK_FAILING_SIGNAL        its number; SIGINT when not given
//   TARNWICK_FAILING_LOG           gets "failed N" a line, and "interrupt"

// The interposed functions must keep their own names: with 64-bit offsets
// asked for, the C library's headers would rename pread to pread64.
#undef _FILE_OFFSET_BITS

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

struct TFailing {
  bool Active = false;
  dev_t Device = 0;
  ino_t Inode = 0;
  std::int64_t From = 0;
  std::int64_t To = 0;
  long DelayMs = 0;
  long InterruptAt = 0;
  int Signal = SIGINT;
  int Log = -1;
};

std::int64_t Number(const char* AName) {
  const char* value = std::getenv(AName);
  return value ? std::atoll(value) : 0;
}

const TFailing& Failing() {
  static const TFailing failing = [] {
    TFailing settings;
    const char* file = std::getenv("TARNWICK_FAILING_FILE");
    struct stat info {};
    if (file == nullptr || stat(file, &info) != 0)
      return settings;
    settings.Active = true;
    settings.Device = info.st_dev;
    settings.Inode = info.st_ino;
    settings.From = Number("TARNWICK_FAILING_FROM");
    settings.To = Number("TARNWICK_FAILING_TO");
    settings.DelayMs = static_cast<long>(Number("TARNWICK_FAILING_DELAY_MS"));
    settings.InterruptAt = static_cast<long>(Number("TARNWICK_FAILING_INTERRUPT_AT"));
    if (const auto signal = static_cast<int>(Number("TARNWICK_FAILING_SIGNAL")); signal != 0)
      settings.Signal = signal;
    if (const char* log = std::getenv("TARNWICK_FAILING_LOG"))
      settings.Log = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return settings;
  }();
  return failing;
}

std::atomic<long> gFailures{0};

void Log(const std::string& ALine) {
  if (Failing().Log < 0)
    return;
  // A line that did not get written shows as missing in the test.
  [[maybe_unused]] const ssize_t written = write(Failing().Log, ALine.data(), ALine.size());
}

bool Fails(int AHandle, std::int64_t APos, std::size_t ASize) {
  const TFailing& failing = Failing();
  if (!failing.Active || ASize == 0 || APos + static_cast<std::int64_t>(ASize) <= failing.From ||
      APos >= failing.To)
    return false;
  struct stat info {};
  return fstat(AHandle, &info) == 0 && info.st_dev == failing.Device && info.st_ino == failing.Inode;
}

// The delay goes on through the signal the read itself sends.
void Delay() {
  const long ms = Failing().DelayMs;
  timespec left{ms / 1000, ms % 1000 * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

template <typename TOffset>
ssize_t ReadOrFail(const char* AName, int AHandle, void* ABuffer, std::size_t ASize, TOffset APos) {
  using TRead = ssize_t (*)(int, void*, std::size_t, TOffset);
  const auto real = reinterpret_cast<TRead>(dlsym(RTLD_NEXT, AName));
  if (!Fails(AHandle, APos, ASize))
    return real(AHandle, ABuffer, ASize, APos);
  Delay();
  const long failure = ++gFailures;
  Log("failed " + std::to_string(failure) + "\n");
  if (failure == Failing().InterruptAt) {
    Log("interrupt\n");
    kill(getpid(), Failing().Signal);
  }
  if (APos < Failing().From)
    return real(AHandle, ABuffer, static_cast<std::size_t>(Failing().From - APos), APos);
  errno = EIO;
  return -1;
}

} // namespace

extern "C" ssize_t pread(int AHandle, void* ABuffer, std::size_t ASize, off_t APos) {
  return ReadOrFail("pread", AHandle, ABuffer, ASize, APos);
}

extern "C" ssize_t pread64(int AHandle, void* ABuffer, std::size_t ASize, off64_t APos) {
  return ReadOrFail("pread64", AHandle, ABuffer, ASize, APos);
}
