// Office encryption of an .accdb (RC4 CryptoAPI, standard and agile AES).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "jet/storage/page_codec.h"

namespace jet {

// `header_page` is page 0 as read from disk (still masked); the encryption
// descriptor sits at 0x299. Returns null when the database key is 0, i.e. the
// pages are stored plain and no password applies. Throws jet::Error with
// errnum::kWrongPassword when the password does not fit (an empty one never
// does), and a clear kGeneric error for a damaged descriptor or a scheme that
// cannot be opened. The codec is immutable, so several threads may use it at
// once.
std::unique_ptr<PageCodec> MakeOfficeCodec(std::span<const uint8_t> header_page,
                                           const std::string& password);

}  // namespace jet
