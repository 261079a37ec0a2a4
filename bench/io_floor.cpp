// The least any tool doing confmend's job must do: the same walk (readdir, using the entry
// types it gives) and, for every ".conf" file, read it whole and write the same bytes back in
// place. Nothing is parsed or changed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool ends_in_conf(const char* name) {
  const std::size_t length = std::strlen(name);
  return length > 5 && std::memcmp(name + length - 5, ".conf", 5) == 0;
}

void rewrite_same_bytes(const std::string& path, std::vector<char>& buffer) {
  const int in = open(path.c_str(), O_RDONLY);
  if (in < 0) {
    return;
  }
  // Room for the whole file and one byte more, so that one read meets its end.
  struct stat info;
  if (fstat(in, &info) == 0 && buffer.size() < static_cast<std::size_t>(info.st_size) + 1) {
    buffer.resize(static_cast<std::size_t>(info.st_size) + 1);
  }
  std::size_t size = 0;
  for (;;) {
    if (buffer.size() == size) {
      buffer.resize(buffer.size() * 2 + 65536);
    }
    const ssize_t got = read(in, buffer.data() + size, buffer.size() - size);
    if (got <= 0) {
      break;
    }
    size += static_cast<std::size_t>(got);
  }
  close(in);
  const int out = open(path.c_str(), O_WRONLY | O_TRUNC);
  if (out < 0) {
    return;
  }
  for (std::size_t done = 0; done < size;) {
    const ssize_t put = write(out, buffer.data() + done, size - done);
    if (put <= 0) {
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  close(out);
}

void walk(const std::string& folder, std::vector<char>& buffer) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) {
    return;
  }
  while (const dirent* entry = readdir(listing)) {
    if (entry->d_type == DT_DIR) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        walk(folder + "/" + entry->d_name, buffer);
      }
    } else if (entry->d_type == DT_REG && ends_in_conf(entry->d_name)) {
      rewrite_same_bytes(folder + "/" + entry->d_name, buffer);
    }
  }
  closedir(listing);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: io_floor ROOT\n");
    return 2;
  }
  std::vector<char> buffer;
  walk(argv[1], buffer);
  return 0;
}
