// TForm3: the go-to dialog that turns a typed address into a sector number. The main window
// opens it (StatusBar1DblClick) and applies the result; the dialog only fills GotoState.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "firmware/goto_address.h"
#include "platform/dialogs.h"

namespace caspira {

class TForm3 : public QDialog {
  Q_OBJECT
 public:
  // A dialog over the program's go-to state; a number it cannot read is shown through
  // `dialogs` as the application shows its errors.
  TForm3(GotoState& state, Dialogs& dialogs, QWidget* parent = nullptr);
  // A dialog over a state of its own, which shows errors in the application's error box.
  explicit TForm3(QWidget* parent = nullptr);

  void FormCreate();
  void RadioButton1Click();
  void RadioButton2Click();
  void RadioButton3Click();
  void Button1Click();  // "OK"
  void Button2Click();  // "CANCEL"
  // Enter in Edit1 is "OK"; other keys are typed. True when the key was taken.
  bool Edit1KeyPress(int key);

  const GotoState& state() const { return state_; }

  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QRadioButton* RadioButton3;
  QLineEdit* Edit1;
  QPushButton* Button1;
  QPushButton* Button2;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void ChooseUnit(std::uint8_t unit);

  GotoState ownState_;
  GotoState& state_;
  Dialogs* dialogs_ = nullptr;
};

}  // namespace caspira
