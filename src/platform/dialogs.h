// Message boxes, questions and file dialogs. The windows use a Qt implementation;
// tests script the answers and record what was shown.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace caspira {

enum class MessageIcon { None, Information, Exclamation, Error, Question };

// "Application" boxes belong to the program's main window and carry a title;
// "system" boxes have no owner and, unless given one, no title of their own.
enum class MessageOwner { Application, None };

struct Message {
  std::string text;
  std::string title;
  MessageIcon icon = MessageIcon::None;
  MessageOwner owner = MessageOwner::Application;

  friend bool operator==(const Message&, const Message&) = default;
};

// An application message box with the given caption and an OK button.
inline Message AppMessage(std::string text, std::string title = "Message",
                          MessageIcon icon = MessageIcon::None) {
  return {std::move(text), std::move(title), icon, MessageOwner::Application};
}
// A plain box with no owner and no title of its own.
inline Message SystemMessage(std::string text) {
  return {std::move(text), {}, MessageIcon::None, MessageOwner::None};
}

struct FileDialogOptions {
  std::string title;
  std::string filter;  // e.g. "Firmware (*.bin)"
  std::string initialDir;
  std::string defaultSuffix;
  bool multiSelect = false;
  // Called with the chosen files before the dialog closes; returning false keeps it open.
  std::function<bool(const std::vector<std::string>&)> canClose;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void ShowMessage(const Message& message) = 0;
  // Yes/No question; true for Yes.
  virtual bool AskYesNo(const Message& message) = 0;
  // The files chosen, or empty when the user cancelled.
  virtual std::vector<std::string> OpenFiles(const FileDialogOptions& options) = 0;
  // The file chosen, or empty when the user cancelled.
  virtual std::string SaveFile(const FileDialogOptions& options) = 0;
};

}  // namespace caspira
