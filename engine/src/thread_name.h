#pragma once
// The name the calling thread carries for the system (`top -H`), empty where there is none.
#include <string>

namespace maps_host {

std::string CurrentThreadName();

}  // namespace maps_host
