#include "cli/password.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "jet/storage/error.h"

namespace cli {
namespace {

// The terminal's settings while echo is off, for the signal handler to put
// back before the signal ends the program.
struct termios g_saved_terminal;
volatile sig_atomic_t g_echo_off = 0;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void RestoreAndRaise(int sig) {
  if (g_echo_off) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  g_echo_off = 0;
  signal(sig, SIG_DFL);
  raise(sig);
}

// Echo off for as long as it lives.
class NoEcho {
 public:
  NoEcho() {
    if (tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) return;
    for (size_t i = 0; i < std::size(kSignals); ++i) {
      struct sigaction sa {};
      sa.sa_handler = RestoreAndRaise;
      sigemptyset(&sa.sa_mask);
      sigaction(kSignals[i], &sa, &old_[i]);
    }
    struct termios quiet = g_saved_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    g_echo_off = 1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &quiet) != 0) g_echo_off = 0;
    active_ = true;
  }
  ~NoEcho() {
    if (!active_) return;
    if (g_echo_off) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
    g_echo_off = 0;
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &old_[i], nullptr);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  bool active_ = false;
  struct sigaction old_[std::size(kSignals)]{};
};

}  // namespace

std::string FirstLine(std::FILE* in, const std::string& what) {
  std::string line;
  for (int c; (c = std::getc(in)) != EOF && c != '\n';) {
    if (c == '\0') {
      throw jet::Error(jet::errnum::kGeneric, "The password in " + what + " holds a NUL byte.");
    }
    if (line.size() >= kMaxPasswordLine) {
      throw jet::Error(jet::errnum::kGeneric, "The first line of " + what + " is longer than " +
                                                  std::to_string(kMaxPasswordLine) +
                                                  " bytes; it cannot be a password.");
    }
    line.push_back(static_cast<char>(c));
  }
  if (std::ferror(in)) {
    throw jet::Error(jet::errnum::kGeneric,
                     "Cannot read " + what + ": " + std::strerror(errno) + ".");
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::optional<std::string> GivenPassword(const std::optional<std::string>& flag,
                                         const std::optional<std::string>& file) {
  if (flag && file) throw std::invalid_argument("give --password or --password-file, not both");
  if (flag) return flag;
  if (file) {
    if (*file == "-") return FirstLine(stdin, "standard input");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file->c_str(), "rb"),
                                                       &std::fclose);
    if (!in) {
      throw jet::Error(jet::errnum::kGeneric, "Cannot open the password file '" + *file +
                                                  "': " + std::strerror(errno) + ".");
    }
    return FirstLine(in.get(), "the password file '" + *file + "'");
  }
  if (const char* env = std::getenv(kPasswordVariable)) return std::string(env);
  return std::nullopt;
}

bool CanPrompt() { return isatty(STDIN_FILENO) == 1; }

std::string PromptPassword(const std::string& prompt) {
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  NoEcho quiet;
  std::string line;
  bool ended = false;
  for (int c; (c = std::getc(stdin)) != EOF;) {
    if (c == '\n') {
      ended = true;
      break;
    }
    if (line.size() >= kMaxPasswordLine) {
      throw jet::Error(jet::errnum::kGeneric, "The password typed is too long.");
    }
    line.push_back(static_cast<char>(c));
  }
  if (!ended && line.empty()) {
    std::fputc('\n', stderr);
    throw jet::Error(jet::errnum::kGeneric, "No password was typed.");
  }
  return line;
}

namespace {
std::string& Remembered() {
  static std::string password;
  return password;
}
}  // namespace

void RememberPassword(const std::string& password) { Remembered() = password; }
const std::string& RememberedPassword() { return Remembered(); }

std::string WithoutPassword(std::string text, const std::string& password) {
  if (password.size() < 4) return text;
  for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 3)) {
    text.replace(at, password.size(), "***");
  }
  return text;
}

}  // namespace cli
