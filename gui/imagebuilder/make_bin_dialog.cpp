#include "imagebuilder/make_bin_dialog.h"

#include <QDir>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <ctime>
#include <fstream>

#include "firmware/firmware_image.h"
#include "firmware/goto_address.h"

namespace caspira {

namespace {

template <typename T>
T* Named(T* widget, const char* name, QRect geometry) {
  widget->setObjectName(name);
  widget->setGeometry(geometry);
  return widget;
}

QString HomeFolder() {
  return QDir::homePath();
}

QLabel* Label(const char* text, QWidget* parent, QRect geometry) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setGeometry(geometry);
  return label;
}

}  // namespace

TForm2::TForm2(AppState& state, makebin::SubCodeList& list, Dialogs& dialogs, Random& random, QWidget* parent)
    : QDialog(parent), state_(state), list_(list), dialogs_(dialogs), random_(random) {
  setObjectName("Form2");
  setWindowTitle("Make Bin");
  setFixedSize(340, 416);

  PageControl1 = Named(new QTabWidget(this), "PageControl1", {4, 4, 332, 386});
  TabSheet1 = new QWidget;
  TabSheet2 = new QWidget;
  PageControl1->addTab(TabSheet1, "Make");
  PageControl1->addTab(TabSheet2, "Setting");

  CheckBox1 = Named(new QCheckBox("Bin Size Auto-detected", TabSheet1), "CheckBox1", {8, 6, 170, 18});
  CheckBox1->setChecked(true);
  GroupBox1 = Named(new QGroupBox("  Bin Size  ", TabSheet1), "GroupBox1", {8, 26, 312, 42});
  RadioButton1 = Named(new QRadioButton("1M Bits", GroupBox1), "RadioButton1", {6, 18, 72, 18});
  RadioButton2 = Named(new QRadioButton("2M Bits", GroupBox1), "RadioButton2", {82, 18, 72, 18});
  RadioButton3 = Named(new QRadioButton("4M Bits", GroupBox1), "RadioButton3", {158, 18, 72, 18});
  RadioButton4 = Named(new QRadioButton("8M Bits", GroupBox1), "RadioButton4", {234, 18, 72, 18});
  Button2 = Named(new QPushButton("Save Bin", TabSheet1), "Button2", {8, 74, 100, 25});
  Button1 = Named(new QPushButton("Add Sub-code", TabSheet1), "Button1", {116, 74, 100, 25});

  StringGrid1 = Named(new QTableWidget(12, 4, TabSheet1), "StringGrid1", {8, 106, 312, 246});
  StringGrid1->horizontalHeader()->hide();
  StringGrid1->verticalHeader()->hide();
  StringGrid1->horizontalHeader()->setMinimumSectionSize(1);
  StringGrid1->verticalHeader()->setMinimumSectionSize(1);
  StringGrid1->horizontalHeader()->setDefaultSectionSize(kColumnWidth);
  StringGrid1->verticalHeader()->setDefaultSectionSize(kRowHeight);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  for (int row = 0; row < 12; ++row) {
    for (int col = 0; col < 4; ++col) {
      auto* item = new QTableWidgetItem;
      // The title row and column are fixed: they show titles and are never selected.
      if (row == 0 || col == 0) {
        item->setFlags(Qt::ItemIsEnabled);
        item->setBackground(palette().button());
      }
      StringGrid1->setItem(row, col, item);
    }
  }
  StringGrid1->installEventFilter(this);
  connect(StringGrid1, &QTableWidget::currentCellChanged, this,
          [this](int row, int col, int, int) { StringGrid1SelectCell(col, row); });
  connect(StringGrid1, &QTableWidget::cellDoubleClicked, this, [this](int, int) { StringGrid1DblClick(); });

  Edit1 = Named(new QLineEdit(TabSheet1), "Edit1", {0, 0, kColumnWidth, kRowHeight});
  Edit1->installEventFilter(this);
  ComboBox1 = Named(new QComboBox(TabSheet1), "ComboBox1", {0, 0, kColumnWidth, kRowHeight});
  ComboBox1->addItems({"FALSE", "TRUE"});
  connect(ComboBox1, &QComboBox::activated, this, &TForm2::ComboBox1Select);

  CheckBox2 = Named(new QCheckBox("RAID Mode setting by  jumper", TabSheet2), "CheckBox2", {8, 8, 220, 18});
  CheckBox2->setChecked(true);
  CheckBox3 = Named(new QCheckBox("QX7100B chip", TabSheet2), "CheckBox3", {8, 30, 220, 18});
  CheckBox3->setChecked(true);
  auto* fan = Named(new QGroupBox(" FAN ", TabSheet2), "GroupBox2", {8, 54, 312, 48});
  Label("Supported:", fan, {8, 20, 70, 18});
  Edit2 = Named(new QLineEdit("1", fan), "Edit2", {80, 18, 40, 20});
  Label("Alarm Limit:", fan, {126, 20, 76, 18});
  Edit3 = Named(new QLineEdit("2000", fan), "Edit3", {204, 18, 56, 20});
  Label("RPM", fan, {266, 20, 40, 18});
  auto* thermal = Named(new QGroupBox(" Thermal sensor ", TabSheet2), "GroupBox3", {8, 108, 312, 48});
  Label("Supported:", thermal, {8, 20, 70, 18});
  Edit4 = Named(new QLineEdit("1", thermal), "Edit4", {80, 18, 40, 20});
  Label("Alarm Limit:", thermal, {126, 20, 76, 18});
  Edit5 = Named(new QLineEdit("50", thermal), "Edit5", {204, 18, 56, 20});
  Label("\u2103", thermal, {266, 20, 40, 18});
  auto* functions = Named(new QGroupBox(" Function Supported ", TabSheet2), "GroupBox4", {8, 162, 312, 48});
  CheckBox4 = Named(new QCheckBox("Schedule Backup", functions), "CheckBox4", {8, 20, 130, 18});
  CheckBox5 = Named(new QCheckBox("Fast Backup", functions), "CheckBox5", {150, 20, 130, 18});

  StatusBar1 = Named(new StatusBar({80, 80, 30, 130}, this), "StatusBar1", {0, 394, 340, 22});

  connect(CheckBox1, &QCheckBox::clicked, this, &TForm2::CheckBox1Click);
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
  FormCreate();
}

QString TForm2::Cell(int col, int row) const {
  return StringGrid1->item(row, col)->text();
}
void TForm2::SetCell(int col, int row, const QString& text) {
  StringGrid1->item(row, col)->setText(text);
}

void TForm2::FormCreate() {
  SetCell(1, 0, "Subcode file");
  SetCell(2, 0, "Code Type");
  SetCell(3, 0, "Update Flag");
  SetCell(0, 1, "Boot Loader");
  for (int i = 0; i < kSubCodeSlots; ++i) SetCell(0, i + 2, QString("SubCode-%1").arg(i));
  CheckBox1Click();
  // Every opening starts with an empty list; the boot loader chosen before stays.
  list_.count = 0;
  HideEditors();
  random_.Seed(static_cast<std::uint32_t>(std::time(nullptr)));
}

void TForm2::RefreshGrid() {
  for (int i = 0; i <= list_.count && i <= kSubCodeSlots; ++i) {
    const makebin::SubCodeEntry& entry = list_.entries[static_cast<std::size_t>(i)];
    SetCell(1, i + 1, QString::fromStdString(makebin::FileNamePart(entry.path)));
    if (i >= 1) {
      SetCell(2, i + 1, QString("%1h").arg(entry.codeType, 2, 16, QChar('0')).toUpper().replace("H", "h"));
      SetCell(3, i + 1, entry.updateFlag != 0 ? "TRUE" : "FALSE");
    }
  }
  for (int row = list_.count + 2; row <= 11; ++row)
    for (int col = 1; col <= 3; ++col) SetCell(col, row, {});
}

void TForm2::Button1Click() {
  FileDialogOptions options;
  options.filter = kFilter;
  options.initialDir = HomeFolder().toStdString();
  options.multiSelect = true;
  const std::vector<std::string> files = dialogs_.OpenFiles(options);
  for (const Message& refusal : makebin::AddFiles(list_, files)) dialogs_.ShowMessage(refusal);
  RefreshGrid();
}

makebin::BuildSettings TForm2::Settings() const {
  makebin::BuildSettings settings;
  if (CheckBox1->isChecked())
    settings.size = makebin::SizeChoice::Automatic;
  else if (RadioButton1->isChecked())
    settings.size = makebin::SizeChoice::Bits1M;
  else if (RadioButton2->isChecked())
    settings.size = makebin::SizeChoice::Bits2M;
  else if (RadioButton3->isChecked())
    settings.size = makebin::SizeChoice::Bits4M;
  else if (RadioButton4->isChecked())
    settings.size = makebin::SizeChoice::Bits8M;
  else
    settings.size = makebin::SizeChoice::None;
  settings.raidModeByJumper = CheckBox2->isChecked();
  settings.qx7100bChip = CheckBox3->isChecked();
  settings.scheduleBackup = CheckBox4->isChecked();
  settings.fastBackup = CheckBox5->isChecked();
  settings.fanSupported = Edit2->text().toStdString();
  settings.fanAlarmLimit = Edit3->text().toStdString();
  settings.thermalSupported = Edit4->text().toStdString();
  settings.thermalAlarmLimit = Edit5->text().toStdString();
  return settings;
}

void TForm2::Button2Click() {
  const makebin::BuildResult built = makebin::BuildImage(
      list_, Settings(), open_, random_, [this](const Message& message) { dialogs_.ShowMessage(message); });
  if (built.recordOffset) StatusBar1->setPanelText(1, QString::number(*built.recordOffset));
  // A refused or failed build leaves the loaded image as it was, and the dialog open.
  if (built.image.empty()) return;
  InstallImage(state_, built.image);
  StatusBar1->setPanelText(0, QString::number(state_.ImageSize));

  FileDialogOptions options;
  options.filter = kFilter;
  options.initialDir = HomeFolder().toStdString();
  options.canClose = [this](const std::vector<std::string>& files) {
    if (!files.empty()) SaveDialog1CanClose(files.front());
    return true;
  };
  dialogs_.SaveFile(options);
  accept();
}

bool TForm2::SaveDialog1CanClose(const std::string& chosen) {
  const std::string path = makebin::BinFileName(chosen);
  StatusBar1->setPanelText(3, QString::fromStdString(path));
  StatusBar1->setPanelText(2, QString::number(state_.ImageSize));
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    dialogs_.ShowMessage({"Fail to create file", "Error", MessageIcon::Error, MessageOwner::None});
    return true;
  }
  const std::span<const std::uint8_t> image = LoadedImage(state_);
  file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  file.close();
  StatusBar1->setPanelText(3, QString::fromStdString("Svae File OK :" + path));
  return true;
}

void TForm2::CheckBox1Click() {
  const bool manual = !CheckBox1->isChecked();
  for (QWidget* w :
       std::initializer_list<QWidget*>{GroupBox1, RadioButton1, RadioButton2, RadioButton3, RadioButton4})
    w->setEnabled(manual);
}

void TForm2::HideEditors() {
  Edit1->hide();
  ComboBox1->hide();
}

makebin::SubCodeEntry* TForm2::CurrentEntry() {
  const int row = StringGrid1->currentRow();
  if (row < 1 || row > list_.count + 1) return nullptr;
  return &list_.entries[static_cast<std::size_t>(row - 1)];
}

void TForm2::StringGrid1SelectCell(int col, int row) {
  HideEditors();
  RefreshGrid();
  StatusBar1->setPanelText(2, QString::number(row - 1));
  if (row < 1 || row > list_.count + 1) return;
  const makebin::SubCodeEntry& entry = list_.entries[static_cast<std::size_t>(row - 1)];
  if (col == 1) StatusBar1->setPanelText(3, QString::fromStdString(entry.path));
  if (col == 2) StatusBar1->setPanelText(3, QString("%1").arg(entry.codeType, 2, 16, QChar('0')).toUpper());
  if (col == 3) StatusBar1->setPanelText(3, QString::number(entry.updateFlag));
}

void TForm2::StringGrid1DblClick() {
  HideEditors();
  const int row = StringGrid1->currentRow();
  const int col = StringGrid1->currentColumn();
  if (row < 2 || row > list_.count + 1 || (col != 2 && col != 3)) return;
  const QRect cell = StringGrid1->visualRect(StringGrid1->model()->index(row, col));
  const QPoint at = StringGrid1->viewport()->mapTo(TabSheet1, cell.topLeft());
  if (col == 2) {
    Edit1->setGeometry(at.x(), at.y(), kColumnWidth, kRowHeight);
    Edit1->setText(Cell(col, row));
    Edit1->show();
    Edit1->raise();
    Edit1->setFocus();
  } else {
    ComboBox1->setGeometry(at.x(), at.y(), kColumnWidth, kRowHeight);
    ComboBox1->setCurrentIndex(list_.entries[static_cast<std::size_t>(row - 1)].updateFlag != 0 ? 1 : 0);
    ComboBox1->show();
    ComboBox1->raise();
    ComboBox1->setFocus();
  }
}

void TForm2::StringGrid1KeyDown(int key) {
  HideEditors();
  if (key != kKeyDelete) return;
  if (makebin::DeleteEntry(list_, StringGrid1->currentRow())) RefreshGrid();
}

void TForm2::StringGrid1KeyPress(char key) {
  HideEditors();
  const int row = StringGrid1->currentRow();
  const int col = StringGrid1->currentColumn();
  if (key == '\r') {
    StringGrid1DblClick();
  } else if (key == '+') {
    if (makebin::MoveEntryUp(list_, row)) {
      StringGrid1->setCurrentCell(row - 1, col);
      RefreshGrid();
    }
  } else if (key == '-') {
    if (makebin::MoveEntryDown(list_, row)) {
      StringGrid1->setCurrentCell(row + 1, col);
      RefreshGrid();
    }
  }
}

bool TForm2::Edit1KeyPress(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  makebin::SubCodeEntry* entry = CurrentEntry();
  try {
    const std::int32_t value = ParseNumber(Edit1->text().toStdString());
    if (entry != nullptr) entry->codeType = static_cast<std::uint8_t>(value);
  } catch (const ConversionError& error) {
    // The editor stays open with the text for correction.
    dialogs_.ShowMessage(AppMessage(error.what(), "Make Bin", MessageIcon::Error));
    return true;
  }
  Edit1->hide();
  RefreshGrid();
  return true;
}

void TForm2::ComboBox1Select(int index) {
  if (makebin::SubCodeEntry* entry = CurrentEntry()) entry->updateFlag = static_cast<std::uint8_t>(index);
  ComboBox1->hide();
  RefreshGrid();
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (watched == Edit1) return Edit1KeyPress(key->key());
  if (watched == StringGrid1) {
    if (key->key() == Qt::Key_Delete) {
      StringGrid1KeyDown(kKeyDelete);
      return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      StringGrid1KeyPress('\r');
      return true;
    }
    if (key->text() == "+" || key->text() == "-") {
      StringGrid1KeyPress(key->text().toLatin1().at(0));
      return true;
    }
    HideEditors();
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace caspira
