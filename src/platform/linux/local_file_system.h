// The host's own file system, for the event log.
#pragma once

#include "platform/file_system.h"

namespace caspira {

class LocalFileSystem final : public FileSystem {
 public:
  bool Exists(const std::string& path) override;
  bool ReadFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                std::string& error) override;
  bool CreateDirectories(const std::string& path, std::string& error) override;
  bool WriteFile(const std::string& path, std::string_view bytes, std::string& error) override;
  bool Rename(const std::string& from, const std::string& to, std::string& error) override;
  void Remove(const std::string& path) override;
};

}  // namespace caspira
