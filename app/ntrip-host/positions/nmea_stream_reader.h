// Finds NMEA sentences in a receiver's byte stream. Receivers often send a binary protocol on the
// same port (UBX, RTCM 3, a vendor's binary log), with or without a line break before the next
// '$', so sentences are found by their start, not by lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ntrip_host {

class NmeaStreamReader {
 public:
  // Sentences longer than max_sentence (from '$' on) are reported cut, so a peer that never
  // ends one cannot grow memory.
  explicit NmeaStreamReader(std::size_t max_sentence) : max_sentence_(max_sentence) {}

  // Calls on_sentence(text, too_long) for each sentence: text runs from its '$' up to the CR or
  // LF that ends it. A '$' or a byte no sentence holds (control or non-ASCII) cuts a sentence
  // short; the cut text is still handed out and its checksum judges it. Returns the number of
  // bytes judged to belong to other protocols during this call (line breaks between sentences
  // are not counted). The text handed out lives until the next call.
  template <typename OnSentence>
  std::uint64_t Feed(std::string_view bytes, OnSentence&& on_sentence) {
    std::uint64_t other = 0;
    for (const char c : bytes) {
      if (Push(c, other)) on_sentence(std::string_view(done_), done_too_long_);
    }
    return other;
  }

  // End of input: an unterminated sentence is handed out as it stands.
  template <typename OnSentence>
  std::uint64_t Finish(OnSentence&& on_sentence) {
    std::uint64_t other = 0;
    if (End(other)) on_sentence(std::string_view(done_), done_too_long_);
    return other;
  }

  // Forgets a partial sentence (a new connection starts a new stream).
  void Reset();

 private:
  enum class State { kBetween, kAddress, kBody, kOverflow };

  // One byte; true when it completed a sentence (at most one per byte).
  bool Push(char c, std::uint64_t& other);
  bool End(std::uint64_t& other);
  void Between(char c, std::uint64_t& other);
  void Emit(bool too_long);

  const std::size_t max_sentence_;
  State state_ = State::kBetween;
  std::string text_;  // the sentence being read, from its '$'
  std::string done_;  // the latest completed one, handed to the caller
  bool done_too_long_ = false;
};

}  // namespace ntrip_host
