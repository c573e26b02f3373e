// TForm2: the Make Bin dialog. It assembles a firmware image from a boot loader, sub-code
// files and its settings tab, installs it as the loaded image and saves it as a ".bin" file.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <string>
#include <vector>

#include "app/widgets.h"
#include "firmware/firmware_loader.h"
#include "imagebuilder/image_builder.h"
#include "platform/dialogs.h"
#include "platform/random.h"
#include "shell/app_state.h"

namespace caspira {

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kColumnWidth = 72;
  static constexpr int kRowHeight = 20;
  static constexpr int kKeyDelete = 46;
  static constexpr char kFilter[] = "Binary code (*.bin)|*.bin|All files (*.*)|*.*";

  TForm2(AppState& state, makebin::SubCodeList& list, Dialogs& dialogs, Random& random,
         QWidget* parent = nullptr);

  void FormCreate();
  void RefreshGrid();
  void Button1Click();  // "Add Sub-code"
  void Button2Click();  // "Save Bin"
  bool SaveDialog1CanClose(const std::string& path);
  void CheckBox1Click();
  void StringGrid1SelectCell(int col, int row);
  void StringGrid1DblClick();
  void StringGrid1KeyDown(int key);
  void StringGrid1KeyPress(char key);
  // Enter in Edit1 takes the code type; other keys are typed. True when the key was taken.
  bool Edit1KeyPress(int key);
  void ComboBox1Select(int index);

  // Where input files are opened (tests put failing files here).
  void setFileOpener(FirmwareFileOpener open) { open_ = std::move(open); }
  makebin::BuildSettings Settings() const;

  QTabWidget* PageControl1;
  QWidget* TabSheet1;  // "Make"
  QWidget* TabSheet2;  // "Setting"
  QCheckBox* CheckBox1;
  QGroupBox* GroupBox1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QRadioButton* RadioButton3;
  QRadioButton* RadioButton4;
  QPushButton* Button2;
  QPushButton* Button1;
  QTableWidget* StringGrid1;
  QLineEdit* Edit1;
  QComboBox* ComboBox1;
  QCheckBox* CheckBox2;
  QCheckBox* CheckBox3;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QLineEdit* Edit4;
  QLineEdit* Edit5;
  QCheckBox* CheckBox4;
  QCheckBox* CheckBox5;
  StatusBar* StatusBar1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString Cell(int col, int row) const;
  void SetCell(int col, int row, const QString& text);
  void HideEditors();
  makebin::SubCodeEntry* CurrentEntry();

  AppState& state_;
  makebin::SubCodeList& list_;
  Dialogs& dialogs_;
  Random& random_;
  FirmwareFileOpener open_ = OpenFirmwareFile;
};

}  // namespace caspira
