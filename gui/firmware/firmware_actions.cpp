// The main window's firmware maintenance: loading an image, the firmware upgrade, direct
// programming with its flash-size choice, and the go-to dialog. The procedures live in the
// core (src/firmware); these handlers guard them, feed them the controls and apply what
// they show.
#include <QFont>

#include "app/main_window.h"
#include "firmware/firmware_image.h"
#include "firmware/flash_commands.h"
#include "firmware/goto_dialog.h"
#include "imagebuilder/make_bin_dialog.h"

namespace caspira {
namespace {

// Holds the firmware busy guard for one action and releases it on every way out.
class FirmwareAction {
 public:
  explicit FirmwareAction(TForm1& form) : form_(form) { form_.BeginFirmwareAction(); }
  FirmwareAction(const FirmwareAction&) = delete;
  FirmwareAction& operator=(const FirmwareAction&) = delete;
  ~FirmwareAction() { form_.EndFirmwareAction(); }

 private:
  TForm1& form_;
};

}  // namespace

void TForm1::CreateFirmwareControls() {
  // Panel1's caption names the running step, on the title's row, to the right.
  Panel1Caption = new QLabel(Panel1);
  Panel1Caption->setObjectName("Panel1Caption");
  Panel1Caption->setTextFormat(Qt::PlainText);
  Panel1Caption->setGeometry(8, 4, 283, 16);
  Panel1Caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont small = Panel1Caption->font();
  small.setPixelSize(11);
  Panel1Caption->setFont(small);

  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button8, &QPushButton::clicked, this, [this] { Button8Click(); });
  connect(Button9, &QPushButton::clicked, this, [this] { Button9Click(); });
  connect(RadioButton1M, &QRadioButton::clicked, this, [this] { RadioButton1MClick(); });
  connect(RadioButton2M, &QRadioButton::clicked, this, [this] { RadioButton2MClick(); });
  connect(RadioButton4M, &QRadioButton::clicked, this, [this] { RadioButton4MClick(); });
  connect(RadioButton8M, &QRadioButton::clicked, this, [this] { RadioButton8MClick(); });
  connect(StatusBar1, &StatusBar::doubleClicked, this, [this] { StatusBar1DblClick(); });
}

void TForm1::BeginFirmwareAction() {
  state_.OperationBusy = true;
  for (QWidget* w :
       std::initializer_list<QWidget*>{RadioButton1M, RadioButton2M, RadioButton4M, RadioButton8M})
    w->setEnabled(false);
}

void TForm1::EndFirmwareAction() {
  state_.OperationBusy = false;
  state_.ClearUpgradeTarget();
}

void TForm1::BitBtn1Click() {
  if (state_.OperationBusy) return;
  FirmwareAction action(*this);
  RunOpenDialog1();
}

void TForm1::RunOpenDialog1() {
  // Loading happens in the close check; a cancelled dialog leaves the image as it was.
  FileDialogOptions options;
  options.filter = "Binary code (*.bin);;All files (*.*)";
  options.canClose = [this](const std::vector<std::string>& files) { return OpenDialog1CanClose(files); };
  services_.dialogs.OpenFiles(options);
}

bool TForm1::OpenDialog1CanClose(const std::vector<std::string>& files) {
  if (files.empty()) return true;
  const std::string& path = files.front();
  int others = 0;
  for (int i = 0; i < 4; ++i) others += StatusBar1->panelWidth(i);
  StatusBar1->setPanelWidth(4, StatusBar1->width() - others);
  SetStatusText(FileStatusText(path));
  // The old image goes first: a file that fails leaves no image at all.
  state_.ReleaseImage();
  const FirmwareLoad load = LoadFirmwareFile(
      path, firmwareFileOpener_, [this](const Message& message) { services_.dialogs.ShowMessage(message); });
  if (load.checksumText) StatusBar1->setPanelText(0, L1(*load.checksumText));
  if (!load.image.empty()) InstallImage(state_, load.image);
  return true;
}

FirmwareUi TForm1::MakeFirmwareUi() {
  return FirmwareUi{services_.dialogs, [this](const FlashDisplay& display) { ApplyFlashDisplay(display); },
                    [this] { return StatusText(); }, [this] { RunOpenDialog1(); }};
}

void TForm1::ApplyFlashDisplay(const FlashDisplay& display) {
  if (display.title) Label12->setText(L1(*display.title));
  if (display.caption) Panel1Caption->setText(L1(*display.caption));
  if (display.maximum) ProgressBar1->setMaximum(*display.maximum);
  if (display.position) ProgressBar1->setValue(*display.position);
  if (display.panelShown) Panel1->setVisible(*display.panelShown);
  if (display.timerRunning) {
    if (*display.timerRunning) {
      Timer1->start();
    } else {
      Timer1->stop();
    }
  }
  if (display.status) SetStatusText(*display.status);
}

void TForm1::Button2Click() {
  if (state_.OperationBusy) return;
  FirmwareAction action(*this);
  FlashCommands flash(state_, commands_);
  RunFirmwareUpgrade(state_, flash, MakeFirmwareUi(), UpDown1->position());
}

void TForm1::Button8Click() {
  if (state_.OperationBusy) return;
  FirmwareAction action(*this);
  FlashCommands flash(state_, commands_);
  const std::uint32_t startOffset = CheckBox2->isChecked() ? kBootLoaderAreaSize : 0;
  RunDirectProgramming(state_, flash, MakeFirmwareUi(), UpDown1->position(), startOffset);
}

void TForm1::RadioButton1MClick() {
  state_.SpiSize = kFlashSize1M;
}

void TForm1::RadioButton2MClick() {
  state_.SpiSize = kFlashSize2M;
}

void TForm1::RadioButton4MClick() {
  state_.SpiSize = kFlashSize4M;
}

void TForm1::RadioButton8MClick() {
  state_.SpiSize = kFlashSize8M;
}

void TForm1::StatusBar1DblClick() {
  if (state_.OperationBusy) return;
  goto_.GotoUnit = GotoUnit::Pending | GotoUnit::Byte;
  {
    TForm3 dialog(goto_, services_.dialogs, this);
    dialog.exec();
  }
  if (const auto sector = GotoSector(goto_.GotoUnit, goto_.GotoValue)) goto_.ViewSector = *sector;
}

void TForm1::Button9Click() {
  if (state_.OperationBusy) return;
  TForm2 dialog(state_, subCodes_, services_.dialogs, services_.random, this);
  dialog.exec();
}

}  // namespace caspira
