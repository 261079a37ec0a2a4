// The least any tool doing confmend's job must do: the same walk (readdir, using the entry
// types it gives) and, for every ".conf" file, read it whole and write the same bytes back in
// place. Nothing is parsed or changed.
//
// With --durable, the least a tool must do that no crash can leave with a damaged file: the
// bytes go to a new file beside the old one, which is flushed to the disk and renamed over
// the old one, and the folder is flushed after.
//
//   io_floor [--durable] ROOT
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

bool durable = false;

void write_bytes(int out, const std::vector<char>& buffer, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t put = write(out, buffer.data() + done, size - done);
    if (put <= 0) {
      break;
    }
    done += static_cast<std::size_t>(put);
  }
}

void replace_durably(const std::string& folder, const std::string& path,
                     const std::vector<char>& buffer, std::size_t size) {
  const std::string fresh = folder + "/.io_floor.tmp";
  const int out = open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (out < 0) {
    return;
  }
  write_bytes(out, buffer, size);
  fsync(out);
  close(out);
  rename(fresh.c_str(), path.c_str());
  const int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  fsync(folder_fd);
  close(folder_fd);
}

void rewrite_same_bytes(const std::string& folder, const std::string& path,
                        std::vector<char>& buffer) {
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
  if (durable) {
    replace_durably(folder, path, buffer, size);
    return;
  }
  const int out = open(path.c_str(), O_WRONLY | O_TRUNC);
  if (out < 0) {
    return;
  }
  write_bytes(out, buffer, size);
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
      rewrite_same_bytes(folder, folder + "/" + entry->d_name, buffer);
    }
  }
  closedir(listing);
}

}  // namespace

int main(int argc, char** argv) {
  durable = argc == 3 && std::strcmp(argv[1], "--durable") == 0;
  if (argc != 2 && !durable) {
    std::fprintf(stderr, "usage: io_floor [--durable] ROOT\n");
    return 2;
  }
  std::vector<char> buffer;
  walk(argv[argc - 1], buffer);
  return 0;
}
