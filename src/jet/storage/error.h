// Failures of the engine and of the layers above it travel as one exception
// type carrying a number and a description, the way the database platform the
// program was designed around reported its errors.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace jet {

// Numbers that callers tell apart. They follow the values the original
// platform used, so that code written against that platform keeps working.
namespace errnum {
inline constexpr int32_t kGeneric = -2147467259;        // 0x80004005
inline constexpr int32_t kWrongPassword = -2147217843;  // 0x80040E4D
inline constexpr int32_t kTypeMismatch = -2147217913;   // 0x80040E07
inline constexpr int32_t kSyntax = -2147217900;         // 0x80040E14
inline constexpr int32_t kNoSuchTable = -2147217865;    // 0x80040E37
inline constexpr int32_t kNoSuchColumn = -2147217904;   // 0x80040E10
inline constexpr int32_t kReadOnly = -2147217911;       // 0x80040E09
inline constexpr int32_t kProviderNotFound = 3706;
}  // namespace errnum

class Error : public std::runtime_error {
 public:
  Error(int32_t number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  int32_t number() const { return number_; }
  std::string description() const { return what(); }

 private:
  int32_t number_;
};

// The file is not what its structures promise: a bad pointer, a loop, a length
// that cannot be. Always reported as "file is damaged: <detail>".
[[noreturn]] void ThrowDamaged(const std::string& detail);

}  // namespace jet
