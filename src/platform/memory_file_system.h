// Files kept in memory: the event log of a program run without a log directory, and the
// file system of tests that need no real one.
#pragma once

#include <map>
#include <string>

#include "platform/file_system.h"

namespace caspira {

class MemoryFileSystem final : public FileSystem {
 public:
  bool Exists(const std::string& path) override { return files.contains(path); }
  bool ReadFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                std::string& error) override {
    const auto it = files.find(path);
    if (it == files.end()) {
      error = "No such file or directory";
      return false;
    }
    if (it->second.size() > maxBytes) {
      error = "File too large";
      return false;
    }
    bytes = it->second;
    return true;
  }
  bool CreateDirectories(const std::string&, std::string&) override { return true; }
  bool WriteFile(const std::string& path, std::string_view bytes, std::string&) override {
    files[path] = std::string(bytes);
    return true;
  }
  bool Rename(const std::string& from, const std::string& to, std::string& error) override {
    const auto it = files.find(from);
    if (it == files.end()) {
      error = "No such file or directory";
      return false;
    }
    std::string content = std::move(it->second);
    files.erase(it);
    files[to] = std::move(content);
    return true;
  }
  void Remove(const std::string& path) override { files.erase(path); }

  // Path to content; tests look at it and preset it.
  std::map<std::string, std::string> files;
};

}  // namespace caspira
