// Giving a plain .accdb a password: the whole file is encrypted with Office
// agile encryption, the scheme Access 2010 and later use for "Encrypt with
// Password".
#pragma once

#include <string>

#include "jet/storage/file_system.h"

namespace jet {

// Encrypts the database at `path` in place with `password` (AES-256 pages, a
// SHA-512 password key with 100000 rounds, fresh random salts and file key).
// The encrypted file is written beside the original and renamed over it, so
// that a crash leaves either the plain or the encrypted file, never a mix;
// a copy that a killed run left there is removed by the next one. Through a
// symbolic link, the file it names is encrypted and the link stays a link.
// The encrypted file keeps the original's owner, group and mode (refused
// when they cannot be given to it).
// The database must not be open, in this process or another. Throws
// jet::Error for an empty password, a Jet 3 or Jet 4 file (.mdb files have no
// such encryption), a file that is already encrypted, a damaged header, a
// file another program is changing, and for failed writes.
void EncryptDatabase(const std::string& path, const std::string& password,
                     FileSystem& fs = FileSystem::Default());

}  // namespace jet
