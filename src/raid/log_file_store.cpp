#include "raid/log_file_store.h"

namespace caspira {

std::vector<std::string> SplitLogLines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c != '\r' && c != '\n') continue;
    lines.emplace_back(bytes.substr(start, i - start));
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.emplace_back(bytes.substr(start));
  return lines;
}

std::string JoinLogLines(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string bytes;
  bytes.reserve(size);
  for (const std::string& line : lines) {
    bytes += line;
    bytes += "\r\n";
  }
  return bytes;
}

std::string DailyLogName(DateTime moment) {
  return FormatYymmdd(moment) + ".log";
}

LogFileStore::LogFileStore(FileSystem& files, std::string directory)
    : files_(files), directory_(std::move(directory)) {}

std::string LogFileStore::DailyPath(DateTime moment) const {
  if (directory_.empty()) return DailyLogName(moment);
  return directory_ + (directory_.back() == '/' ? "" : "/") + DailyLogName(moment);
}

bool LogFileStore::Exists(const std::string& path) const {
  return files_.Exists(path);
}

bool LogFileStore::Load(const std::string& path, std::vector<std::string>& lines, std::string& error) const {
  std::string bytes;
  if (!files_.ReadFile(path, kMaxLogFileBytes, bytes, error)) return false;
  lines = SplitLogLines(bytes);
  return true;
}

bool LogFileStore::Save(const std::string& path, const std::vector<std::string>& lines,
                        std::string& error) const {
  std::string reason;
  if (!directory_.empty() && !files_.CreateDirectories(directory_, reason)) {
    error = "cannot create the directory: " + reason;
    return false;
  }
  const std::string temporary = TemporaryPathFor(path);
  if (!files_.WriteFile(temporary, JoinLogLines(lines), reason)) {
    files_.Remove(temporary);
    error = "cannot write " + temporary + ": " + reason;
    return false;
  }
  if (!files_.Rename(temporary, path, reason)) {
    files_.Remove(temporary);
    error = "cannot replace the file: " + reason;
    return false;
  }
  return true;
}

}  // namespace caspira
