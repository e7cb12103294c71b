// Names and addresses that identify the product to its users. Everything the
// program shows about who made it comes from here, so a rebrand is one edit.
#pragma once

#include <string>

namespace app {

inline constexpr char kProductName[] = "Tessaly Draviel";
// Vendor and application name: the settings store files our values under it.
inline constexpr char kVendorName[] = "Ombrisk";
inline constexpr char kSupportAddress[] = "support@ombrisk.example";
inline constexpr char kContactPage[] = "http://www.ombrisk.example/contact/";
// Project tag and build date that the error report names as the source of a
// failure, ahead of window and handler.
inline constexpr char kErrorSourceTag[] = "Korvane2021/08/31";

// The short title used on windows and message boxes: the product name cut
// before its last blank, and cut again while it is longer than 40 characters.
// A name without a blank is kept whole, however long, rather than emptied.
// Length counts UTF-8 characters, not bytes.
std::string ApplicationTitle(std::string product);

// The project's version, from the build.
const char* Version();
// What `--version` prints first: "PROGRAM (Tessaly Draviel) VERSION".
std::string VersionLine(const std::string& program);

}  // namespace app
