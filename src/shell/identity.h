// The program's fixed names.
#pragma once

#include <string>

namespace caspira {

// The main window's design caption, also the application title at start.
inline constexpr const char* kDesignCaption = "Caspira v0.22";

// The name under which only one copy of the program runs.
inline constexpr const char* kInstanceName = "KT_GUI";

// The phrase appended to the window title, in two halves.
inline constexpr const char* kTitleSuffixFirst = "RAID ";
inline constexpr const char* kTitleSuffixSecond = "Manager";

// "Caspira v0.22 RAID Manager": the design caption, a blank and the title suffix.
inline std::string BuildWindowTitle() {
  return std::string(kDesignCaption) + " " + kTitleSuffixFirst + kTitleSuffixSecond;
}

}  // namespace caspira
