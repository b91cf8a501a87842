#pragma once
// What the decoder stored from station and observation messages, as JSON.
#include <nlohmann/json.hpp>

#include "rtcm/decoder.h"

nlohmann::json StationJson(const rtcm::StationInfo& station);
// The epoch held in the decoder's observation set: time and per satellite its slots.
nlohmann::json EpochJson(const rtcm::RtcmDecoder& dec);
