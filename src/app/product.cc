#include "app/product.h"

#include <cstddef>

namespace app {
namespace {

size_t CharacterCount(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++count;  // continuation bytes belong to the previous character
  }
  return count;
}

}  // namespace

std::string ApplicationTitle(std::string product) {
  do {
    size_t blank = product.rfind(' ');
    if (blank == std::string::npos) break;
    product.erase(blank);
  } while (CharacterCount(product) > 40);
  return product;
}

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

const char* Version() { return TESSALY_VERSION; }

std::string VersionLine(const std::string& program) {
  return program + " (" + kProductName + ") " + Version();
}

}  // namespace app
