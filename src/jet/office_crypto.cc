#include "jet/codec.h"
#include "jet/error.h"

namespace jet {

// Opening Office-encrypted files is not there yet: say so plainly.
std::unique_ptr<PageCodec> MakeOfficeCodec(std::span<const uint8_t> header_page,
                                           const std::string& password) {
  throw Error(errnum::kGeneric,
              "This .accdb file is protected with a password and encrypted; opening encrypted "
              ".accdb files is not supported yet.");
}

}  // namespace jet
