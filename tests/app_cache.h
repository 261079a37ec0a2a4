#ifndef CONFMEND_TESTS_APP_CACHE_H_
#define CONFMEND_TESTS_APP_CACHE_H_

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// Steam's appcache/appinfo.vdf as Steam writes it, in format 27, 28 or 29, holding a launch
// list for each app.

struct CachedLaunch {
  std::string executable, arguments, working_folder, type, systems;
};

struct CachedApp {
  std::uint32_t appid = 0;
  std::vector<CachedLaunch> launches;
};

class AppCacheWriter {
 public:
  explicit AppCacheWriter(std::uint32_t format) : format_(format) {}

  std::string bytes(const std::vector<CachedApp>& apps) {
    std::string entries;
    for (const CachedApp& app : apps) {
      std::string data;
      begin(data, "appinfo");
      begin(data, "config");
      begin(data, "launch");
      for (std::size_t i = 0; i < app.launches.size(); ++i) {
        const CachedLaunch& launch = app.launches[i];
        begin(data, std::to_string(i));
        text(data, "executable", launch.executable);
        if (!launch.arguments.empty()) {
          text(data, "arguments", launch.arguments);
        }
        if (!launch.working_folder.empty()) {
          text(data, "workingdir", launch.working_folder);
        }
        if (!launch.type.empty()) {
          text(data, "type", launch.type);
        }
        begin(data, "config");
        if (!launch.systems.empty()) {
          text(data, "oslist", launch.systems);
        }
        data += '\x02';
        key(data, "BetaKey");
        word(data, 7);
        data += '\x08';
        data += '\x08';
      }
      data += "\x08\x08\x08\x08";  // launch, config, appinfo, and the top
      word(entries, app.appid);
      const std::size_t before = format_ == 0x07564427 ? 40 : 60;
      word(entries, static_cast<std::uint32_t>(before + data.size()));
      entries += std::string(before, '\x01');
      entries += data;
    }
    word(entries, 0);
    std::string file;
    word(file, format_);
    word(file, 1);
    if (format_ == 0x07564429) {
      const std::uint64_t table_at = 16 + entries.size();
      file.append(reinterpret_cast<const char*>(&table_at), 8);
      file += entries;
      word(file, static_cast<std::uint32_t>(strings_.size()));
      for (const std::string& name : strings_) {
        file += name;
        file += '\0';
      }
      return file;
    }
    return file + entries;
  }

 private:
  static void word(std::string& out, std::uint32_t value) {
    out.append(reinterpret_cast<const char*>(&value), 4);
  }
  void key(std::string& out, const std::string& name) {
    if (format_ != 0x07564429) {
      out += name;
      out += '\0';
      return;
    }
    auto [at, added] = numbers_.emplace(name, static_cast<std::uint32_t>(strings_.size()));
    if (added) {
      strings_.push_back(name);
    }
    word(out, at->second);
  }
  void begin(std::string& out, const std::string& name) {
    out += '\x00';
    key(out, name);
  }
  void text(std::string& out, const std::string& name, const std::string& value) {
    out += '\x01';
    key(out, name);
    out += value;
    out += '\0';
  }

  std::uint32_t format_;
  std::vector<std::string> strings_;
  std::map<std::string, std::uint32_t> numbers_;
};

#endif  // CONFMEND_TESTS_APP_CACHE_H_
