// Where a command's database password comes from, so that it need not stand
// on the command line, where every local user can read it in the process
// list: --password PW, --password-file FILE (its first line; "-" for
// standard input), the environment variable TESSALY_PASSWORD, and last a
// prompt without echo when standard input is a terminal.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "jet/storage/error.h"

namespace cli {

inline constexpr char kPasswordVariable[] = "TESSALY_PASSWORD";
// A password file's first line may be this long; a longer one is refused, so
// that a file such as /dev/zero cannot make the tool read without end.
inline constexpr size_t kMaxPasswordLine = 4096;

// The first line of `in`, without its line end ("\n" or "\r\n"). Throws
// jet::Error for a line beyond kMaxPasswordLine or a NUL byte in it; `what`
// names the source in that message.
std::string FirstLine(std::FILE* in, const std::string& what);

// The password the user gave, if any: `flag` (--password) or else the first
// line of `file` (--password-file; "-" is standard input) or else
// TESSALY_PASSWORD. Throws UsageError-like std::invalid_argument when both
// --password and --password-file are given, jet::Error when the file cannot
// be read.
std::optional<std::string> GivenPassword(const std::optional<std::string>& flag,
                                         const std::optional<std::string>& file);

// Whether a prompt can be shown: standard input is a terminal.
bool CanPrompt();
// Asks on standard error and reads a line from the terminal on standard
// input with echo off (restored afterwards, also when a signal ends the
// program meanwhile). Throws jet::Error when the terminal gives no line.
std::string PromptPassword(const std::string& prompt);

// Remembers the password in use, so that the message of any failure can
// leave it out (see WithoutPassword).
void RememberPassword(const std::string& password);
const std::string& RememberedPassword();

// Calls open(password) with the password given; when none was given and the
// database wants one, asks for it on the terminal (when there is one) and
// calls open again with what was typed.
template <typename OpenFn>
void OpenWithPassword(const std::optional<std::string>& given, const std::string& db,
                      OpenFn&& open) {
  RememberPassword(given.value_or(""));
  try {
    open(given.value_or(""));
  } catch (const jet::Error& e) {
    if (given || e.number() != jet::errnum::kWrongPassword || !CanPrompt()) throw;
    const std::string typed = PromptPassword("Password for '" + db + "': ");
    RememberPassword(typed);
    open(typed);
  }
}

// `text` with every occurrence of `password` (when it is not empty) replaced
// by "***": a message never shows a password, whichever part produced it.
// Passwords shorter than four characters are left alone: masking them would
// garble the message and hide little.
std::string WithoutPassword(std::string text, const std::string& password);

}  // namespace cli
