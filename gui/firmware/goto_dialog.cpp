#include "firmware/goto_dialog.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include "app/main_window.h"
#include "app/program.h"

namespace caspira {

TForm3::TForm3(GotoState& state, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), state_(state), dialogs_(&dialogs) {
  CreateControls();
  FormCreate();
}

TForm3::TForm3(QWidget* parent) : QDialog(parent), state_(ownState_) {
  CreateControls();
  FormCreate();
}

void TForm3::CreateControls() {
  setObjectName("Form3");
  setWindowTitle("GoTo");
  setModal(true);
  setFixedSize(268, 84);
  RadioButton1 = new QRadioButton("Byte", this);
  RadioButton2 = new QRadioButton("Word", this);
  RadioButton3 = new QRadioButton("Sector", this);
  Edit1 = new QLineEdit(this);
  Button1 = new QPushButton("OK", this);
  Button2 = new QPushButton("CANCEL", this);
  const struct {
    QWidget* widget;
    const char* name;
    QRect geometry;
  } layout[] = {
      {RadioButton1, "RadioButton1", {12, 10, 56, 20}},
      {RadioButton2, "RadioButton2", {72, 10, 56, 20}},
      {RadioButton3, "RadioButton3", {132, 10, 64, 20}},
      {Edit1, "Edit1", {12, 44, 168, 24}},
      {Button1, "Button1", {190, 8, 66, 27}},
      {Button2, "Button2", {190, 44, 66, 27}},
  };
  for (const auto& control : layout) {
    control.widget->setObjectName(control.name);
    control.widget->setGeometry(control.geometry);
  }
  // Enter belongs to Edit1 (Edit1KeyPress); no button answers it on its own.
  for (QPushButton* b : {Button1, Button2}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  setTabOrder(Edit1, RadioButton1);
  setTabOrder(RadioButton1, Button1);
  setTabOrder(Button1, Button2);
  Edit1->setFocus();
  Edit1->installEventFilter(this);

  connect(RadioButton1, &QRadioButton::clicked, this, [this] { RadioButton1Click(); });
  connect(RadioButton2, &QRadioButton::clicked, this, [this] { RadioButton2Click(); });
  connect(RadioButton3, &QRadioButton::clicked, this, [this] { RadioButton3Click(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TForm3::FormCreate() {
  const std::uint8_t unit = state_.GotoUnit;
  QRadioButton* checked = unit == (GotoUnit::Pending | GotoUnit::Byte)   ? RadioButton1
                          : unit == (GotoUnit::Pending | GotoUnit::Word) ? RadioButton2
                                                                         : RadioButton3;
  checked->setChecked(true);
  // From here until "OK" the state says "not confirmed": a title-bar close counts as cancel.
  state_.GotoUnit = static_cast<std::uint8_t>(state_.GotoUnit | GotoUnit::Pending);
}

void TForm3::ChooseUnit(std::uint8_t unit) {
  state_.GotoUnit = static_cast<std::uint8_t>(GotoUnit::Pending | unit);
}

void TForm3::RadioButton1Click() {
  ChooseUnit(GotoUnit::Byte);
}

void TForm3::RadioButton2Click() {
  ChooseUnit(GotoUnit::Word);
}

void TForm3::RadioButton3Click() {
  ChooseUnit(GotoUnit::Sector);
}

void TForm3::Button1Click() {
  std::int32_t value = 0;
  try {
    value = ParseNumber(FromL1(Edit1->text()));
  } catch (const ConversionError& error) {
    // The dialog stays open with the text for correction; nothing changes.
    if (dialogs_ != nullptr) {
      dialogs_->ShowMessage(
          AppMessage(error.what(), FromL1(QCoreApplication::applicationName()), MessageIcon::Error));
    } else {
      ShowException(error.what());
    }
    return;
  }
  state_.GotoValue = static_cast<std::uint32_t>(value);
  state_.GotoUnit = static_cast<std::uint8_t>(state_.GotoUnit & GotoUnit::UnitMask);
  accept();
}

void TForm3::Button2Click() {
  state_.GotoUnit = 0;
  reject();
}

bool TForm3::Edit1KeyPress(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  Button1Click();
  return true;
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit1 && event->type() == QEvent::KeyPress &&
      Edit1KeyPress(static_cast<QKeyEvent*>(event)->key()))
    return true;
  return QDialog::eventFilter(watched, event);
}

}  // namespace caspira
