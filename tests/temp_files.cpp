#include "tests/temp_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail_hard(const std::string& what) {
  std::fprintf(stderr, "test setup failed: %s\n", what.c_str());
  std::abort();
}

}  // namespace

TempDir::TempDir() {
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("confmend-test-" + std::to_string(random()));
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.generic_string();
      return;
    }
  }
  fail_hard("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Give back write permission first, so that read-only leftovers can be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) {
    fail_hard("cannot write " + path);
  }
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool file_exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

void make_folders(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
}
