// Whole files, read and written through one small interface. The event log goes through
// it, so a program without a log directory can keep the log in memory (MemoryFileSystem)
// and a test can make any single step fail: the write, the rename, the read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace caspira {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // True when anything exists at `path`.
  virtual bool Exists(const std::string& path) = 0;
  // The whole content of the regular file at `path`, refused when it is longer than
  // `maxBytes`. On failure `error` says why.
  virtual bool ReadFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                        std::string& error) = 0;
  // Creates the directory and any missing parent; an existing directory is success.
  virtual bool CreateDirectories(const std::string& path, std::string& error) = 0;
  // Makes `bytes` the whole content of `path` (created or truncated) and returns true only
  // once they are on the storage device, so that a later rename cannot publish a file whose
  // data is still in flight.
  virtual bool WriteFile(const std::string& path, std::string_view bytes, std::string& error) = 0;
  // Renames `from` over `to` in one step: a reader sees the old file or the new one, never
  // a mixture, whatever happens to the program in between.
  virtual bool Rename(const std::string& from, const std::string& to, std::string& error) = 0;
  // Removes the file if it is there.
  virtual void Remove(const std::string& path) = 0;
};

}  // namespace caspira
