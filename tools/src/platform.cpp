#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tarno {

unsigned long CurrentThreadNumber() {
#ifdef _WIN32
  return static_cast<unsigned long>(GetCurrentThreadId());
#else
  return static_cast<unsigned long>(gettid());
#endif
}

void LocalTime(std::time_t t, std::tm* out) {
#ifdef _WIN32
  localtime_s(out, &t);
#else
  localtime_r(&t, out);
#endif
}

std::FILE* OpenPrivateForAppend(const std::string& path) {
#ifdef _WIN32
  // The directory's access list decides who reads the file.
  return std::fopen(path.c_str(), "a");
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "a");
  if (file == nullptr) ::close(fd);
  return file;
#endif
}

void NameThisThread(const char* name) {
#ifdef _WIN32
  // MinGW's headers do not declare SetThreadDescription; a debugger there shows thread numbers.
  (void)name;
#else
  // Linux refuses a name beyond 15 characters outright: cut it rather than lose it.
  const std::string cut = std::string(name).substr(0, 15);
  pthread_setname_np(pthread_self(), cut.c_str());
#endif
}

int StderrTerminalColumns() {
  // A terminal that does not tell its size gets the classic 80 columns.
  constexpr int kUnknownWidth = 80;
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
#else
  if (::isatty(STDERR_FILENO) == 0) return 0;
  winsize size{};
  const int columns = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
#endif
  return columns > 0 ? columns : kUnknownWidth;
}

}  // namespace tarno
