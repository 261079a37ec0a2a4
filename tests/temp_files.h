#ifndef CONFMEND_TESTS_TEMP_FILES_H_
#define CONFMEND_TESTS_TEMP_FILES_H_

#include <string>

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
void make_folders(const std::string& path);

#endif  // CONFMEND_TESTS_TEMP_FILES_H_
