// Dialogs shown as real modal Qt dialogs.
#pragma once

#include <QWidget>
#include <functional>

#include "platform/dialogs.h"

namespace caspira {

class QtDialogs final : public Dialogs {
 public:
  // `owner` returns the application's main window, or null before it exists.
  explicit QtDialogs(std::function<QWidget*()> owner = {}) : owner_(std::move(owner)) {}

  void ShowMessage(const Message& message) override;
  bool AskYesNo(const Message& message) override;
  std::vector<std::string> OpenFiles(const FileDialogOptions& options) override;
  std::string SaveFile(const FileDialogOptions& options) override;

 private:
  QWidget* OwnerFor(const Message& message) const;
  std::function<QWidget*()> owner_;
};

}  // namespace caspira
