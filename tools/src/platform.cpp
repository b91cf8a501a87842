#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#else
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

}  // namespace tarno
