#pragma once
// std::source_location where the standard library has it; clang 14 with libstdc++ 12 lacks it
// (fuzzer builds), so a compatible shim stands in there.
#if __has_include(<source_location>)
#include <source_location>
#endif

#if defined(__cpp_lib_source_location)
namespace tarno {
using SourceLocation = std::source_location;
}
#else
#include <cstdint>
namespace tarno {
struct SourceLocation {
  static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                          const char* function = __builtin_FUNCTION(),
                                          std::uint_least32_t line = __builtin_LINE()) noexcept {
    SourceLocation loc;
    loc.file_ = file;
    loc.function_ = function;
    loc.line_ = line;
    return loc;
  }
  constexpr std::uint_least32_t line() const noexcept { return line_; }
  constexpr std::uint_least32_t column() const noexcept { return 0; }
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr const char* function_name() const noexcept { return function_; }

 private:
  const char* file_ = "";
  const char* function_ = "";
  std::uint_least32_t line_ = 0;
};
}  // namespace tarno
#endif
