#include "jet/storage/error.h"

namespace jet {

void ThrowDamaged(const std::string& detail) {
  throw Error(errnum::kGeneric, "The database file is damaged: " + detail + ".");
}

}  // namespace jet
