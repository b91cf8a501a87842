#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
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

}  // namespace tarno
