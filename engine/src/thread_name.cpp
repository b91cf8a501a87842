#include "thread_name.h"

#ifndef _WIN32
#include <pthread.h>
#endif

namespace maps_host {

std::string CurrentThreadName() {
#ifdef _WIN32
  return {};
#else
  char name[16] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return {};
  return name;
#endif
}

}  // namespace maps_host
