#pragma once
// What the decoder stored from a navigation message (ephemeris or SSR), as JSON.
#include <nlohmann/json.hpp>

#include "rtcm/decoder.h"

// Called for every frame with a right CRC; adds fields to `out` when the message stored
// navigation data (result 2 or 10), leaves it alone otherwise.
void AddNavigationJson(nlohmann::json& out, const rtcm::RtcmDecoder& dec, int message_type,
                       int result);
