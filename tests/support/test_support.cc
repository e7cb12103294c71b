#include "support/test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

std::string DataPath(const std::string& relative) {
  return std::string(TESSALY_TEST_DATA) + "/" + relative;
}

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tessaly-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a scratch directory");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::Copy(const std::string& relative) {
  std::filesystem::path src = DataPath(relative);
  std::filesystem::path dst = path_ / src.filename();
  std::filesystem::copy_file(src, dst, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(dst, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  return dst.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace testing_support
