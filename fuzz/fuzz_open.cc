// libFuzzer target: the input is a database file. It is opened without a
// password and with the fixed one, read in full and checked. Refusals
// (jet::Error) are expected; a crash, a sanitizer report, another exception,
// a hang or runaway memory is a finding.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "jet/table/check.h"
#include "jet/storage/error.h"

namespace {

std::shared_ptr<jet::Database> TryOpen(const std::string& path, const std::string& password) {
  try {
    return jet::Database::Open(path, jet::OpenOptions{password, false});
  } catch (const jet::Error&) {
    return nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Scratch& scratch = fuzz::Scratch::Get();
  const std::string path = scratch.Write("input.db", data, size);
  {
    // While the first is open the second open shares its object and only
    // weighs the password; when the first was refused it loads afresh.
    auto plain = TryOpen(path, "");
    auto with_password = TryOpen(path, fuzz::kPassword);
    jet::Database* db = plain ? plain.get() : with_password.get();
    if (db) {
      fuzz::ReadEverything(*db);
      try {
        jet::CheckDatabase(*db);
      } catch (const jet::Error&) {
      }
    }
  }
  scratch.Remove(path);
  return 0;
}
