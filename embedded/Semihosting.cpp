// The harness programs' link to the host, through Arm semihosting: the
// newlib system calls (files, console, heap, exit) and the program's start
// after the reset code (Startup.S).
//
// Files and the console are host files: a path is opened on the host by the
// emulator, standard input, output and error are the emulator's own. The
// exit status reaches the host through the extended exit call, which
// carries a status code (the plain one on this architecture carries none).
// The command line comes from the emulator as one string of words separated
// by spaces; scripts/m4-run.sh writes each argument as '@' followed by the
// argument with every byte other than [A-Za-z0-9._/+-] as %XX, so that
// spaces, commas and empty arguments survive the trip.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TargetRuntime.h"

extern "C" {
void __libc_init_array();
// Called by the reset code, which then calls main(argc, TargetArguments)
// with the count returned here and exit() with main's result.
int TargetStart();
extern char* TargetArguments[];
void TargetFault(uint32_t exception);

int _open(const char* path, int flags, ...);
int _close(int fd);
int _read(int fd, char* buffer, int length);
int _write(int fd, const char* buffer, int length);
int _lseek(int fd, int offset, int whence);
int _fstat(int fd, struct stat* status);
int _isatty(int fd);
void* _sbrk(ptrdiff_t increment);
[[noreturn]] void _exit(int status);
int _kill(int pid, int signal);
int _getpid();
void _init();
void _fini();
extern void* __dso_handle;

extern char __heap_start[];
extern char __heap_end[];
}

namespace {

// Semihosting operation numbers.
enum Operation : uint32_t {
  kOpen = 0x01,
  kClose = 0x02,
  kWrite0 = 0x04,
  kWrite = 0x05,
  kRead = 0x06,
  kIsTty = 0x09,
  kSeek = 0x0A,
  kFileLength = 0x0C,
  kErrno = 0x13,
  kGetCommandLine = 0x15,
  kExitExtended = 0x20,
};
constexpr uint32_t kApplicationExit = 0x20026;

// Open modes of the open call: an index into "r", "rb", "r+", "r+b", "w",
// "wb", "w+", "w+b", "a", "ab", "a+", "a+b".
constexpr uint32_t kModeRead = 1;
constexpr uint32_t kModeReadWrite = 3;
constexpr uint32_t kModeWrite = 5;
constexpr uint32_t kModeReadWriteTruncate = 7;
constexpr uint32_t kModeAppend = 9;
constexpr uint32_t kModeReadAppend = 11;
// ":tt" opened for reading is standard input, for writing standard output,
// for appending standard error.
constexpr uint32_t kConsoleModes[3] = {0, 4, 8};

int32_t semihost(uint32_t operation, const void* argument) {
  register uint32_t r0 asm("r0") = operation;
  register const void* r1 asm("r1") = argument;
  asm volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
  return static_cast<int32_t>(r0);
}

// Host handles by file descriptor; -1 marks a free slot.
constexpr int kMaxFiles = 16;
int32_t handles[kMaxFiles];

int32_t handleOf(int fd) {
  if (fd < 0 || fd >= kMaxFiles) {
    return -1;
  }
  return handles[fd];
}

int fail(int error) {
  errno = error;
  return -1;
}

uint32_t modeFor(int flags) {
  const int access = flags & O_ACCMODE;
  if ((flags & O_APPEND) != 0) {
    return access == O_RDWR ? kModeReadAppend : kModeAppend;
  }
  if (access == O_RDONLY) {
    return kModeRead;
  }
  if (access == O_RDWR) {
    return (flags & O_TRUNC) != 0 ? kModeReadWriteTruncate : kModeReadWrite;
  }
  return kModeWrite;
}

int32_t openHost(const char* path, uint32_t mode) {
  const uint32_t block[3] = {reinterpret_cast<uint32_t>(path), mode,
                             static_cast<uint32_t>(std::strlen(path))};
  return semihost(kOpen, block);
}

// The host opens a directory for reading, and reading it then looks like
// the end of an empty file, since the read call reports no error. A path
// is a directory when "path/." opens as well; for a file that open fails.
bool isHostDirectory(const char* path) {
  static char inside[1024];
  const std::size_t length = std::strlen(path);
  if (length + sizeof "/." > sizeof inside) {
    return false;
  }
  std::memcpy(inside, path, length);
  std::memcpy(inside + length, "/.", sizeof "/.");
  const int32_t handle = openHost(inside, kModeRead);
  if (handle == -1) {
    return false;
  }
  semihost(kClose, &handle);
  return true;
}

char* heapBreak = __heap_start;
char* heapHighWater = __heap_start;

constexpr int kMaxArguments = 64;
constexpr std::size_t kCommandLineSize = 4096;
char commandLine[kCommandLineSize];

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// Splits the command line at spaces, drops each word's leading '@' and
// decodes %XX in place. Returns the number of words, or -1 when the line
// does not fit the buffer or holds more than kMaxArguments words.
int splitCommandLine() {
  struct {
    char* buffer;
    uint32_t length;
  } block = {commandLine, kCommandLineSize};
  if (semihost(kGetCommandLine, &block) != 0) {
    return -1;
  }
  int count = 0;
  char* read = commandLine;
  while (*read != '\0') {
    while (*read == ' ') {
      ++read;
    }
    if (*read == '\0') {
      break;
    }
    if (count == kMaxArguments) {
      return -1;
    }
    if (*read == '@') {
      ++read;
    }
    char* write = read;
    TargetArguments[count++] = write;
    while (*read != '\0' && *read != ' ') {
      const int high = read[0] == '%' ? hexValue(read[1]) : -1;
      const int low = high >= 0 ? hexValue(read[2]) : -1;
      if (low >= 0) {
        *write++ = static_cast<char>(high * 16 + low);
        read += 3;
      } else {
        *write++ = *read++;
      }
    }
    const bool more = *read == ' ';
    *write = '\0';
    if (more) {
      ++read;
    }
  }
  TargetArguments[count] = nullptr;
  return count;
}

}  // namespace

std::size_t TargetHeapUsed() { return static_cast<std::size_t>(heapBreak - __heap_start); }

std::size_t TargetHeapHighWater() { return static_cast<std::size_t>(heapHighWater - __heap_start); }

std::size_t TargetHeapSize() { return static_cast<std::size_t>(__heap_end - __heap_start); }

extern "C" {

char* TargetArguments[kMaxArguments + 1];

int TargetStart() {
  for (int fd = 0; fd < kMaxFiles; ++fd) {
    handles[fd] = fd < 3 ? openHost(":tt", kConsoleModes[fd]) : -1;
  }
  __libc_init_array();
  const int count = splitCommandLine();
  if (count < 0) {
    semihost(kWrite0, "m4: the command line is too long for the target\n");
    _exit(2);
  }
  return count;
}

void TargetFault(uint32_t exception) {
  static const char message[] = "m4: processor fault, exception 0x00\n";
  static char text[sizeof message];
  std::memcpy(text, message, sizeof message);
  constexpr char kDigits[] = "0123456789abcdef";
  text[sizeof message - 3] = kDigits[(exception >> 4) & 15];
  text[sizeof message - 2] = kDigits[exception & 15];
  semihost(kWrite0, text);
  _exit(134);
}

int _open(const char* path, int flags, ...) {
  int fd = 0;
  while (fd < kMaxFiles && handles[fd] != -1) {
    ++fd;
  }
  if (fd == kMaxFiles) {
    return fail(EMFILE);
  }
  const int32_t handle = openHost(path, modeFor(flags));
  if (handle == -1) {
    return fail(semihost(kErrno, nullptr));
  }
  if (isHostDirectory(path)) {
    semihost(kClose, &handle);
    return fail(EISDIR);
  }
  handles[fd] = handle;
  return fd;
}

int _close(int fd) {
  const int32_t handle = handleOf(fd);
  if (handle == -1) {
    return fail(EBADF);
  }
  handles[fd] = -1;
  return semihost(kClose, &handle) == 0 ? 0 : fail(EIO);
}

int _read(int fd, char* buffer, int length) {
  const int32_t handle = handleOf(fd);
  if (handle == -1) {
    return fail(EBADF);
  }
  const uint32_t block[3] = {static_cast<uint32_t>(handle), reinterpret_cast<uint32_t>(buffer),
                             static_cast<uint32_t>(length)};
  // The call answers with the number of bytes it did not read.
  const int32_t notRead = semihost(kRead, block);
  if (notRead < 0 || notRead > length) {
    return fail(EIO);
  }
  return length - notRead;
}

int _write(int fd, const char* buffer, int length) {
  const int32_t handle = handleOf(fd);
  if (handle == -1) {
    return fail(EBADF);
  }
  const uint32_t block[3] = {static_cast<uint32_t>(handle), reinterpret_cast<uint32_t>(buffer),
                             static_cast<uint32_t>(length)};
  const int32_t notWritten = semihost(kWrite, block);
  if (notWritten < 0 || notWritten > length) {
    return fail(EIO);
  }
  if (notWritten == length && length > 0) {
    return fail(EIO);
  }
  return length - notWritten;
}

int _lseek(int fd, int offset, int whence) {
  const int32_t handle = handleOf(fd);
  if (handle == -1) {
    return fail(EBADF);
  }
  int32_t target = offset;
  if (whence == SEEK_END) {
    const int32_t length = semihost(kFileLength, &handle);
    if (length < 0) {
      return fail(ESPIPE);
    }
    target = length + offset;
  } else if (whence == SEEK_CUR) {
    // The host keeps no position we could ask for; newlib only asks for
    // the current position with offset 0 when it has nothing buffered.
    return fail(ESPIPE);
  }
  const uint32_t block[2] = {static_cast<uint32_t>(handle), static_cast<uint32_t>(target)};
  return semihost(kSeek, block) == 0 ? target : fail(EIO);
}

int _fstat(int fd, struct stat* status) {
  if (handleOf(fd) == -1) {
    return fail(EBADF);
  }
  std::memset(status, 0, sizeof *status);
  status->st_mode = _isatty(fd) != 0 ? S_IFCHR : S_IFREG;
  return 0;
}

int _isatty(int fd) {
  const int32_t handle = handleOf(fd);
  if (handle == -1) {
    errno = EBADF;
    return 0;
  }
  return semihost(kIsTty, &handle) == 1 ? 1 : 0;
}

// The heap is the linker script's .heap section, no byte more. Weak, so
// that a program may bring its own (examples/firmware keeps a static arena).
[[gnu::weak]] void* _sbrk(ptrdiff_t increment) {
  if (increment > __heap_end - heapBreak || increment < __heap_start - heapBreak) {
    errno = ENOMEM;
    return reinterpret_cast<void*>(-1);
  }
  char* const previous = heapBreak;
  heapBreak += increment;
  if (heapBreak > heapHighWater) {
    heapHighWater = heapBreak;
  }
  return previous;
}

void _exit(int status) {
  const uint32_t block[2] = {kApplicationExit, static_cast<uint32_t>(status)};
  for (;;) {
    semihost(kExitExtended, block);
  }
}

// abort() ends here; the exit status says so as a shell would.
int _kill(int pid, int signal) {
  (void)pid;
  semihost(kWrite0, "m4: the program aborted\n");
  _exit(128 + signal);
}

int _getpid() { return 1; }

// What the compiler's start files would otherwise bring: the C library's
// constructor and destructor hooks (the init and fini arrays do the work)
// and the handle that names this program to atexit-registered destructors.
void _init() {}
void _fini() {}
void* __dso_handle = &__dso_handle;

}  // extern "C"
