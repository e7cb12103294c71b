#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "jet/storage/error.h"

namespace fuzz {

Scratch& Scratch::Get() {
  static Scratch scratch;
  return scratch;
}

Scratch::Scratch() {
  std::error_code ec;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0) {
    base = std::filesystem::temp_directory_path();
  }
  std::string tmpl = (base / "tessaly-fuzz-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) Fail("cannot make a scratch folder in " + base.string());
  dir_ = tmpl;
}

Scratch::~Scratch() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string Scratch::Write(const std::string& name, const uint8_t* data, size_t size) {
  std::string path = dir_ + "/" + name;
  Remove(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) Fail("cannot write " + path);
  return path;
}

void Scratch::Remove(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  std::filesystem::remove(jet::Pager::JournalPath(path), ec);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::shared_ptr<jet::Database> OpenEither(const std::string& path, bool writable,
                                          size_t spill_bytes) {
  try {
    return jet::Database::Open(path, jet::OpenOptions{"", writable, &jet::FileSystem::Default(),
                                                      spill_bytes});
  } catch (const jet::Error&) {
  }
  try {
    return jet::Database::Open(path, jet::OpenOptions{kPassword, writable,
                                                      &jet::FileSystem::Default(), spill_bytes});
  } catch (const jet::Error&) {
  }
  return nullptr;
}

ReadTally ReadEverything(jet::Database& db) {
  ReadTally tally;
  std::vector<jet::CatalogEntry> catalog;
  try {
    catalog = db.Catalog();
    db.TablesRowset();
    db.UserTables();
  } catch (const jet::Error&) {
    return tally;
  }
  for (const jet::CatalogEntry& e : catalog) {
    try {
      db.Properties(e.id);
    } catch (const jet::Error&) {
    }
    if (e.type != 1) continue;
    try {
      auto table = db.TableById(e.id);
      ++tally.tables;
      jet::TableScan scan(db, table);
      while (scan.Next()) {
        ++tally.rows;
        for (const jet::Column& c : table->columns) jet::TextForm(scan.Get(c));
      }
    } catch (const jet::Error&) {
      ++tally.table_errors;
    }
  }
  return tally;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "\n*** fuzz finding: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz
