// The daily event log files: their names, their bytes, and replacing one whole without
// ever leaving a half-written file behind.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace caspira {

// A day's log is a few hundred lines; anything far bigger is not a log of ours, and
// reading it whole would only exhaust memory.
inline constexpr std::size_t kMaxLogFileBytes = 64u << 20;

// The lines of a log file. CR LF, a lone CR and a lone LF each end a line; the end of the
// last line needs no terminator, and a terminator at the very end adds no empty line.
std::vector<std::string> SplitLogLines(std::string_view bytes);
// The bytes of a log file: every line followed by CR LF, the last one too.
std::string JoinLogLines(const std::vector<std::string>& lines);
// "yymmdd.log" for the day of `moment`.
std::string DailyLogName(DateTime moment);

class LogFileStore {
 public:
  // `directory` empty: names stand alone (a store in memory needs no directory).
  LogFileStore(FileSystem& files, std::string directory);

  const std::string& Directory() const { return directory_; }
  FileSystem& Files() const { return files_; }
  // The directory, then "yymmdd.log" for the day of `moment`.
  std::string DailyPath(DateTime moment) const;

  bool Exists(const std::string& path) const;
  // The file's lines. On failure `lines` is untouched and `error` says why.
  bool Load(const std::string& path, std::vector<std::string>& lines, std::string& error) const;
  // Replaces the file whole. The bytes go to a temporary file beside it, which is renamed
  // over the old file only once it is completely on the disk; a crash or a full disk in
  // between leaves the old file as it was. The directory is created when missing. On
  // failure the temporary file is removed and `error` says which step failed and why.
  bool Save(const std::string& path, const std::vector<std::string>& lines, std::string& error) const;

  // The temporary file a save of `path` writes first.
  static std::string TemporaryPathFor(const std::string& path) { return path + ".tmp"; }

 private:
  FileSystem& files_;
  std::string directory_;
};

}  // namespace caspira
