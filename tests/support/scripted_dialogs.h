// Dialogs for tests: records every message and answers from a script.
#pragma once

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace caspira {

// A box as test failures print it.
inline void PrintTo(const Message& message, std::ostream* os) {
  *os << "{\"" << message.text << "\", title \"" << message.title << "\", icon "
      << static_cast<int>(message.icon)
      << (message.owner == MessageOwner::Application ? ", application" : ", no owner") << "}";
}

}  // namespace caspira

namespace caspira::testing {

class ScriptedDialogs final : public Dialogs {
 public:
  void ShowMessage(const Message& message) override {
    shown.push_back(message);
    if (whileShown) whileShown(message);
  }
  bool AskYesNo(const Message& message) override {
    asked.push_back(message);
    if (yesNoAnswers.empty()) return false;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
  }
  std::vector<std::string> OpenFiles(const FileDialogOptions& options) override {
    openOptions.push_back(options);
    if (openAnswers.empty()) return {};
    auto files = openAnswers.front();
    openAnswers.pop_front();
    if (!files.empty() && options.canClose && !options.canClose(files)) return {};
    return files;
  }
  std::string SaveFile(const FileDialogOptions& options) override {
    saveOptions.push_back(options);
    if (saveAnswers.empty()) return {};
    auto file = saveAnswers.front();
    saveAnswers.pop_front();
    if (!file.empty() && options.canClose && !options.canClose({file})) return {};
    return file;
  }

  std::vector<std::string> ShownTexts() const {
    std::vector<std::string> texts;
    for (const Message& m : shown) texts.push_back(m.text);
    return texts;
  }

  std::vector<Message> shown;
  // Runs while a message is shown, as the event loop of a modal box would run the window.
  std::function<void(const Message&)> whileShown;
  std::vector<Message> asked;
  std::deque<bool> yesNoAnswers;
  std::deque<std::vector<std::string>> openAnswers;
  std::deque<std::string> saveAnswers;
  std::vector<FileDialogOptions> openOptions;
  std::vector<FileDialogOptions> saveOptions;
};

}  // namespace caspira::testing
