#include "positions/nmea_stream_reader.h"

namespace ntrip_host {
namespace {

// Talker and sentence identifier: "GPGGA", "PUBX", "GNGGAH", "PQTMVERNO". Four characters at
// least, so that a '$' inside binary data rarely looks like a start.
constexpr std::size_t kMinAddress = 4;
constexpr std::size_t kMaxAddress = 16;

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n';
}

bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}

bool IsAddressByte(char c) {
  return IsUpper(c) || (c >= '0' && c <= '9');
}

// Sentences are printable ASCII; '$' only ever starts one.
bool IsBodyByte(char c) {
  return c >= 0x20 && c <= 0x7E && c != '$';
}

}  // namespace

void NmeaStreamReader::Reset() {
  state_ = State::kBetween;
  text_.clear();
}

void NmeaStreamReader::Between(char c, std::uint64_t& other) {
  if (c == '$') {
    text_.assign(1, '$');
    state_ = State::kAddress;
    return;
  }
  state_ = State::kBetween;
  if (!IsLineEnd(c)) ++other;
}

void NmeaStreamReader::Emit(bool too_long) {
  done_.swap(text_);
  text_.clear();
  done_too_long_ = too_long;
}

bool NmeaStreamReader::Push(char c, std::uint64_t& other) {
  switch (state_) {
    case State::kBetween:
      Between(c, other);
      return false;
    case State::kAddress: {
      const std::size_t address = text_.size() - 1;
      if (address < kMaxAddress && (address == 0 ? IsUpper(c) : IsAddressByte(c))) {
        text_.push_back(c);
        return false;
      }
      if ((c == ',' || c == '*') && address >= kMinAddress) {
        text_.push_back(c);
        state_ = State::kBody;
        return false;
      }
      // Not a sentence after all: the '$' and what followed belong to another protocol, and
      // this byte may itself start the next sentence.
      other += text_.size();
      text_.clear();
      Between(c, other);
      return false;
    }
    case State::kBody:
      if (IsBodyByte(c)) {
        if (text_.size() < max_sentence_) {
          text_.push_back(c);
          return false;
        }
        Emit(true);
        state_ = State::kOverflow;
        return true;
      }
      Emit(false);
      Between(c, other);
      return true;
    case State::kOverflow:
      // The rest of an over-long sentence, already reported: neither a sentence nor other bytes.
      if (!IsBodyByte(c)) Between(c, other);
      return false;
  }
  return false;
}

bool NmeaStreamReader::End(std::uint64_t& other) {
  const State state = state_;
  state_ = State::kBetween;
  if (state == State::kBody) {
    Emit(false);
    return true;
  }
  if (state == State::kAddress) other += text_.size();
  text_.clear();
  return false;
}

}  // namespace ntrip_host
