// Text as Access stores it: UTF-16LE, optionally "compressed" (one byte per
// character with 0x00 toggling modes), or a single-byte code page in Jet 3
// files. Inside the engine text is UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace jet {

// Decodes a stored Jet 4 text value (compressed or not) to UTF-8.
std::string DecodeUcs2Text(std::span<const uint8_t> stored);
// Decodes plain UTF-16LE to UTF-8 (unpaired surrogates become U+FFFD).
std::string Utf16LeToUtf8(std::span<const uint8_t> bytes);
std::string Utf16ToUtf8(std::u16string_view s);
std::u16string Utf8ToUtf16(std::string_view s);

// Encodes UTF-8 for storage: compressed when every character lies in
// U+0001..U+00FF, the text has 3 to 1024 characters, and `may_compress`.
std::string EncodeUcs2Text(std::string_view utf8, bool may_compress);

// Single-byte code pages of Jet 3 files.
std::string CodePageToUtf8(std::span<const uint8_t> bytes, uint16_t code_page);
// Encodes UTF-8 into the code page; characters it cannot hold become '?'.
std::string Utf8ToCodePage(std::string_view utf8, uint16_t code_page);

// The same decoding written into memory the caller provides, for readers
// that turn many values into text and want no allocation per value. `dst`
// needs room for kMaxUtf8PerStoredByte bytes for each stored byte; each
// returns the end of what it wrote.
inline constexpr size_t kMaxUtf8PerStoredByte = 4;
char* WriteUcs2TextAsUtf8(char* dst, std::span<const uint8_t> stored);
char* WriteUtf16LeAsUtf8(char* dst, std::span<const uint8_t> bytes);
char* WriteCodePageAsUtf8(char* dst, std::span<const uint8_t> bytes, uint16_t code_page);

// Number of Unicode characters (code points) of a UTF-8 text.
size_t Utf8Length(std::string_view s);
// Number of UTF-16 code units of a UTF-8 text (Utf8ToUtf16(s).size()):
// what Access counts as the length of a text, so a character beyond the
// first plane takes two.
size_t Utf16Length(std::string_view s);

}  // namespace jet
