#include "app/qt_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

#include "app/main_window.h"

namespace caspira {
namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Exclamation: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

std::vector<std::string> ToStrings(const QStringList& list) {
  std::vector<std::string> out;
  for (const QString& s : list) out.push_back(s.toStdString());
  return out;
}

QFileDialog* MakeFileDialog(QWidget* parent, const FileDialogOptions& options) {
  auto* dialog = new QFileDialog(parent, L1(options.title), QString::fromStdString(options.initialDir),
                                 L1(options.filter));
  dialog->setDefaultSuffix(L1(options.defaultSuffix));
  return dialog;
}

}  // namespace

QtDialogs::QtDialogs(std::function<QWidget*()> owner)
    : owner_(std::move(owner)), windowThread_(std::make_unique<QObject>()) {}

QtDialogs::~QtDialogs() {
  for (const QPointer<QMessageBox>& box : systemBoxes_) delete box.data();
}

QWidget* QtDialogs::OwnerFor(const Message& message) const {
  return message.owner == MessageOwner::Application && owner_ ? owner_() : nullptr;
}

void QtDialogs::ShowMessage(const Message& message) {
  if (message.owner == MessageOwner::None) {
    if (QThread::currentThread() == windowThread_->thread()) {
      ShowSystemMessage(message);
    } else {
      QMetaObject::invokeMethod(
          windowThread_.get(), [this, message] { ShowSystemMessage(message); }, Qt::QueuedConnection);
    }
    return;
  }
  QMessageBox box(ToQt(message.icon), L1(message.title), L1(message.text), QMessageBox::Ok,
                  OwnerFor(message));
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtDialogs::ShowSystemMessage(const Message& message) {
  std::erase_if(systemBoxes_, [](const QPointer<QMessageBox>& box) { return box.isNull(); });
  auto* box = new QMessageBox(ToQt(message.icon), L1(message.title), L1(message.text), QMessageBox::Ok);
  box->setTextFormat(Qt::PlainText);
  box->setWindowModality(Qt::NonModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  systemBoxes_.emplace_back(box);
  box->show();
}

bool QtDialogs::AskYesNo(const Message& message) {
  QMessageBox box(ToQt(message.icon), L1(message.title), L1(message.text), QMessageBox::Yes | QMessageBox::No,
                  OwnerFor(message));
  box.setTextFormat(Qt::PlainText);
  return box.exec() == QMessageBox::Yes;
}

std::vector<std::string> QtDialogs::OpenFiles(const FileDialogOptions& options) {
  QWidget* parent = owner_ ? owner_() : nullptr;
  std::unique_ptr<QFileDialog> dialog(MakeFileDialog(parent, options));
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(options.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  // The close check runs while the dialog is still open; a refusal keeps it open.
  while (dialog->exec() == QDialog::Accepted) {
    const std::vector<std::string> files = ToStrings(dialog->selectedFiles());
    if (!options.canClose || options.canClose(files)) return files;
  }
  return {};
}

std::string QtDialogs::SaveFile(const FileDialogOptions& options) {
  QWidget* parent = owner_ ? owner_() : nullptr;
  std::unique_ptr<QFileDialog> dialog(MakeFileDialog(parent, options));
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  while (dialog->exec() == QDialog::Accepted) {
    const std::vector<std::string> files = ToStrings(dialog->selectedFiles());
    if (files.empty()) break;
    if (!options.canClose || options.canClose(files)) return files.front();
  }
  return {};
}

}  // namespace caspira
