// Dialogs shown as real Qt dialogs.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "platform/dialogs.h"

namespace caspira {

// Application message boxes, questions and file dialogs are modal. A system message box
// (no owner) stands on its own beside the window: it is shown and the caller goes on, so
// the window's timers, the detection cycle and the polls keep running while it is open,
// as they do beside an ownerless box elsewhere. Such a box may also be asked for from
// another thread; it is then shown by the window thread.
class QtDialogs final : public Dialogs {
 public:
  // `owner` returns the application's main window, or null before it exists.
  explicit QtDialogs(std::function<QWidget*()> owner = {});
  // Closes the system message boxes still open.
  ~QtDialogs() override;
  QtDialogs(const QtDialogs&) = delete;
  QtDialogs& operator=(const QtDialogs&) = delete;

  void ShowMessage(const Message& message) override;
  bool AskYesNo(const Message& message) override;
  std::vector<std::string> OpenFiles(const FileDialogOptions& options) override;
  std::string SaveFile(const FileDialogOptions& options) override;

 private:
  void ShowSystemMessage(const Message& message);
  QWidget* OwnerFor(const Message& message) const;

  std::function<QWidget*()> owner_;
  // Lives on the window thread; a system box asked for elsewhere is queued to it.
  std::unique_ptr<QObject> windowThread_;
  std::vector<QPointer<QMessageBox>> systemBoxes_;  // window thread only
};

}  // namespace caspira
