// The sample the program feeds to the component's position input.
#pragma once

#include <vector>

namespace ntrip_host {

// latitude (deg, north +), longitude (deg, east +), altitude (m), position accuracy (m).
using PositionSample = std::vector<double>;

inline PositionSample MakeSample(double latitude, double longitude, double altitude,
                                 double accuracy) {
  return {latitude, longitude, altitude, accuracy};
}

}  // namespace ntrip_host
