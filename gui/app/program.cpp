#include "app/program.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <exception>
#include <memory>

#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "eventlog/event_log_window.h"
#include "firmware/goto_dialog.h"
#include "imagebuilder/make_bin_dialog.h"
#include "platform/linux/local_file_system.h"
#include "platform/process.h"
#include "platform/random.h"
#include "shell/identity.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>

namespace caspira {

void ShowException(const std::string& text) {
  if (QApplication::instance() == nullptr) {
    std::fprintf(stderr, "caspira: %s\n", text.c_str());
    return;
  }
  QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), L1(text), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool CaspiraApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Display(e.what());
  } catch (...) {
    Display("");  // an exception of unknown type has no message
  }
  return false;
}

void CaspiraApplication::Display(const std::string& text) const {
  if (display_) {
    display_(text);
  } else {
    ShowException(text);
  }
}

namespace {

// A button's text as shown: "&OK" reads "OK", "&&" is one "&".
QString WithoutMnemonics(const QString& text) {
  QString shown;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

QJsonObject DescribeControl(QWidget* w) {
  QJsonObject o;
  o["name"] = w->objectName();
  o["kind"] = QString(w->metaObject()->className()).remove("caspira::");
  o["visible"] = !w->isHidden();
  o["enabled"] = w->isEnabled();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    o["text"] = b->text();
    if (b->isCheckable()) o["checked"] = b->isChecked();
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    o["text"] = l->text();
    o["color"] = l->palette().color(QPalette::Active, QPalette::WindowText).name();
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    o["text"] = g->title();
  } else if (auto* p = qobject_cast<QProgressBar*>(w)) {
    o["position"] = p->value();
    o["maximum"] = p->maximum();
  } else if (auto* u = qobject_cast<UpDown*>(w)) {
    o["position"] = u->position();
    o["minimum"] = u->minimum();
    o["maximum"] = u->maximum();
  } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
    o["text"] = m->toPlainText();
  }
  if (!w->toolTip().isEmpty()) o["hint"] = w->toolTip();
  return o;
}

QJsonObject DescribeWindow(QWidget* window) {
  QJsonObject o;
  o["name"] = window->objectName();
  o["title"] = window->windowTitle();
  o["visible"] = window->isVisible();
  QJsonArray controls;
  for (QWidget* child : window->findChildren<QWidget*>()) {
    if (child->objectName().isEmpty() || child->objectName().startsWith("qt_")) continue;
    controls.append(DescribeControl(child));
  }
  o["controls"] = controls;
  return o;
}

// The message boxes open now, modal or not, with what they say and offer.
QJsonArray DescribeMessageBoxes() {
  QJsonArray boxes;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(top);
    if (box == nullptr || !box->isVisible()) continue;
    QJsonObject o;
    o["title"] = box->windowTitle();
    o["text"] = box->text();
    o["modal"] = box->isModal();
    QJsonArray buttons;
    for (QAbstractButton* button : box->buttons()) buttons.append(WithoutMnemonics(button->text()));
    o["buttons"] = buttons;
    boxes.append(o);
  }
  return boxes;
}

}  // namespace

std::string DumpWindowsJson(TForm1& form) {
  QJsonObject root;
  QJsonObject main = DescribeWindow(&form);
  QJsonArray pages;
  for (int i = 0; i < form.PageControl1->pageCount(); ++i) {
    QJsonObject page;
    page["name"] = form.PageControl1->pageName(i);
    page["caption"] = form.PageControl1->tabText(i);
    page["tabVisible"] = form.PageControl1->pageTabVisible(i);
    pages.append(page);
  }
  main["pages"] = pages;
  main["activePage"] = form.PageControl1->activePageIndex();
  QJsonArray panels;
  for (int i = 0; i < form.StatusBar1->panelCount(); ++i) panels.append(form.StatusBar1->panelText(i));
  main["statusPanels"] = panels;
  QJsonArray timers;
  for (QTimer* t : {form.Timer1, form.Timer2, form.Timer3, form.Timer4, form.Timer5}) {
    QJsonObject timer;
    timer["name"] = t->objectName();
    timer["enabled"] = t->isActive();
    timer["interval"] = t->interval();
    timers.append(timer);
  }
  main["timers"] = timers;
  root["mainWindow"] = main;

  QJsonArray others;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top == &form || top->objectName().isEmpty() || !top->isVisible()) continue;
    others.append(DescribeWindow(top));
  }
  root["otherWindows"] = others;
  root["messageBoxes"] = DescribeMessageBoxes();
  root["windowTitle"] = form.windowTitle();
  QJsonArray log;
  for (const QString& line : form.Memo1->toPlainText().split('\n', Qt::SkipEmptyParts)) log.append(line);
  root["eventLog"] = log;
  return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

int RunProgram(int& argc, char** argv, DeviceHost& host, Clock& clock, const ProgramOptions& options,
               const std::function<void(TForm1&)>& beforeLoop) {
  // A second copy leaves at once, silently, with exit code 0.
  SingleInstanceLock instance(kInstanceName);
  if (!instance.IsHeld()) return 0;

  try {
    CaspiraApplication app(argc, argv);
    QCoreApplication::setApplicationName(kDesignCaption);

    std::unique_ptr<TForm1> form1;
    QtDialogs dialogs([&form1]() -> QWidget* { return form1.get(); });
    StdRandom random;
    LocalFileSystem logFiles;
    form1 = std::make_unique<TForm1>(ProgramServices{host, dialogs, clock, random, options.speed,
                                                     options.logDirectory.empty() ? nullptr : &logFiles,
                                                     options.logDirectory});
    // One hidden instance of each dialog, owned by the main window.
    new TForm2(form1->state(), form1->subCodeList(), dialogs, random, form1.get());
    new TForm3(form1.get());
    new TForm5(form1->LogWindowSource(), form1.get());
    form1->show();
    // The program ends with its main window, also while boxes of their own stand open
    // beside it (Qt would otherwise wait for the last of them) or a modal one runs.
    QObject::connect(form1.get(), &TForm1::closed, &app, [] { QCoreApplication::exit(0); });
    if (beforeLoop) beforeLoop(*form1);

    if (options.pressStart || options.page) {
      QObject::connect(
          form1.get(), &TForm1::devicesRefreshed, form1.get(),
          [&form1, &options] {
            if (options.pressStart && form1->Button10->isEnabled()) form1->Button10->click();
            // Choosing a tab as the user does: the window hears of the change.
            const int index = options.page.value_or(0) - 1;
            if (index >= 0 && index < form1->PageControl1->pageCount() &&
                form1->PageControl1->pageTabVisible(index))
              form1->PageControl1->setCurrentIndex(index);
          },
          Qt::SingleShotConnection);
    }
    if (options.runForSeconds) {
      const double ms = *options.runForSeconds * 1000.0 / (options.speed > 0 ? options.speed : 1.0);
      // Whatever the caller passed, the timer's milliseconds stay within an int.
      const int delay = static_cast<int>(std::clamp(ms, 0.0, static_cast<double>(INT_MAX)));
      QTimer::singleShot(delay, form1.get(), [&form1, &options] {
        if (!options.screenshotPath.empty() &&
            !form1->grab().save(QString::fromStdString(options.screenshotPath)))
          std::fprintf(stderr, "caspira: could not save the screenshot to %s\n",
                       options.screenshotPath.c_str());
        if (!options.dumpPath.empty()) {
          QFile file(QString::fromStdString(options.dumpPath));
          if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
              file.write(QByteArray::fromStdString(DumpWindowsJson(*form1))) < 0)
            std::fprintf(stderr, "caspira: could not write %s\n", options.dumpPath.c_str());
        }
        if (options.printLog) {
          const QByteArray log = form1->Memo1->toPlainText().toLatin1();
          std::fwrite(log.constData(), 1, static_cast<std::size_t>(log.size()), stdout);
          if (!log.isEmpty() && !log.endsWith('\n')) std::fputc('\n', stdout);
        }
        form1->close();
      });
    }
    app.exec();
    form1.reset();
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("");
  }
  return 0;
}

}  // namespace caspira
