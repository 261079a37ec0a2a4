// The least any tool doing confmend's job must do: the same walk (readdir, using the entry
// types it gives) and, for every ".conf" file, read it whole and write the same bytes back in
// place. Nothing is parsed or changed.
//
// With --durable, the least a tool must do that no crash can leave with a damaged file: the
// bytes go to a new file beside the old one, which is flushed to the disk and renamed over
// the old one, and the folder is flushed after.
//
// With --grouped, the same durable work with the flushes overlapped, as a file system can
// commit them together: THREADS threads each take files, write, flush and rename them, and
// then every folder is flushed once.
//
//   io_floor [--durable | --grouped THREADS] ROOT
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
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

bool flush_folder_after = true;

void replace_durably(const std::string& folder, const std::string& path,
                     const std::vector<char>& buffer, std::size_t size) {
  const std::string fresh = path + ".io_floor.tmp";
  const int out = open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (out < 0) {
    return;
  }
  write_bytes(out, buffer, size);
  fsync(out);
  close(out);
  rename(fresh.c_str(), path.c_str());
  if (flush_folder_after) {
    const int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    fsync(folder_fd);
    close(folder_fd);
  }
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

// Calls `found` with the folder and the path of every ".conf" file below the folder.
template <typename Found>
void walk(const std::string& folder, const Found& found) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) {
    return;
  }
  while (const dirent* entry = readdir(listing)) {
    if (entry->d_type == DT_DIR) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        walk(folder + "/" + entry->d_name, found);
      }
    } else if (entry->d_type == DT_REG && ends_in_conf(entry->d_name)) {
      found(folder, folder + "/" + entry->d_name);
    }
  }
  closedir(listing);
}

void replace_grouped(const std::string& root, int threads) {
  std::vector<std::pair<std::string, std::string>> files;
  walk(root, [&](const std::string& folder, const std::string& path) {
    files.emplace_back(folder, path);
  });
  flush_folder_after = false;
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&] {
      std::vector<char> buffer;
      for (std::size_t at; (at = next++) < files.size();) {
        rewrite_same_bytes(files[at].first, files[at].second, buffer);
      }
    });
  }
  for (auto& worker : workers) {
    worker.join();
  }
  std::set<std::string> folders;
  for (const auto& file : files) {
    folders.insert(file.first);
  }
  for (const std::string& folder : folders) {
    const int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    fsync(folder_fd);
    close(folder_fd);
  }
}

}  // namespace

int main(int argc, char** argv) {
  durable = argc == 3 && std::strcmp(argv[1], "--durable") == 0;
  const bool grouped = argc == 4 && std::strcmp(argv[1], "--grouped") == 0;
  if (argc != 2 && !durable && !grouped) {
    std::fprintf(stderr, "usage: io_floor [--durable | --grouped THREADS] ROOT\n");
    return 2;
  }
  if (grouped) {
    durable = true;
    replace_grouped(argv[3], std::atoi(argv[2]));
    return 0;
  }
  std::vector<char> buffer;
  walk(argv[argc - 1], [&](const std::string& folder, const std::string& path) {
    rewrite_same_bytes(folder, path, buffer);
  });
  return 0;
}
