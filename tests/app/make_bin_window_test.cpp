// The Make Bin dialog as the user drives it: its defaults, adding files, editing the list in
// the grid, "Save Bin" and saving, the refused builds that leave the loaded image alone, and
// a built image written into a simulated enclosure through the main window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <iterator>

#include "app/main_window.h"
#include "imagebuilder/make_bin_dialog.h"
#include "sim/sim_world.h"
#include "support/fakes.h"
#include "support/firmware_images.h"
#include "support/gui_support.h"
#include "support/process.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using ::testing::ElementsAre;

std::vector<std::uint8_t> BootLoader() {
  std::vector<std::uint8_t> bytes(0x40, 0x5C);
  std::copy_n("FIPS", 4, bytes.begin());
  bytes[16] = 0x00;
  bytes[17] = 0x80;
  bytes[18] = 0x07;
  return bytes;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MakeBinDialogTest : public ::testing::Test {
 public:
  MakeBinDialogTest() { Open(); }

  void Open() { form = std::make_unique<TForm2>(state, list, dialogs, random); }
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    testing::WriteBytes(dir / name, bytes);
    return dir / name;
  }
  // "Add Sub-code" with these files chosen at once.
  void Add(std::vector<std::string> files) {
    dialogs.openAnswers.push_back(std::move(files));
    form->Button1->click();
  }
  void AddThree() {
    Add({File("A01.BIN", std::vector<std::uint8_t>(40, 0xA1)),
         File("B02.BIN", std::vector<std::uint8_t>(60, 0xB2)), File("SPIHEAD.BIN", BootLoader())});
  }
  QString Cell(int col, int row) const { return form->StringGrid1->item(row, col)->text(); }
  std::vector<QString> Column(int col) const {
    std::vector<QString> cells;
    for (int row = 1; row <= 4; ++row) cells.push_back(Cell(col, row));
    return cells;
  }
  std::vector<std::uint8_t> Image() const {
    return {state.ImageBuffer.get(), state.ImageBuffer.get() + state.ImageSize};
  }

  AppState state;
  makebin::SubCodeList list;
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  testing::TempDir dir;
  std::unique_ptr<TForm2> form;
};

TEST_F(MakeBinDialogTest, OpensWithItsDefaults) {
  TForm2& f = *form;
  EXPECT_EQ(f.windowTitle(), "Make Bin");
  EXPECT_EQ(f.PageControl1->tabText(0), "Make");
  EXPECT_EQ(f.PageControl1->tabText(1), "Setting");
  EXPECT_TRUE(f.CheckBox1->isChecked());
  EXPECT_EQ(f.CheckBox1->text(), "Bin Size Auto-detected");
  EXPECT_EQ(f.GroupBox1->title(), "  Bin Size  ");
  for (QRadioButton* b : {f.RadioButton1, f.RadioButton2, f.RadioButton3, f.RadioButton4}) {
    EXPECT_FALSE(b->isChecked());
    EXPECT_FALSE(b->isEnabled());
  }
  EXPECT_FALSE(f.GroupBox1->isEnabled());
  f.CheckBox1->click();
  EXPECT_TRUE(f.RadioButton3->isEnabled());
  f.CheckBox1->click();
  EXPECT_FALSE(f.RadioButton3->isEnabled());
  EXPECT_EQ(f.Button2->text(), "Save Bin");
  EXPECT_EQ(f.Button1->text(), "Add Sub-code");
  EXPECT_EQ(f.StringGrid1->rowCount(), 12);
  EXPECT_EQ(f.StringGrid1->columnCount(), 4);
  EXPECT_EQ(f.StringGrid1->columnWidth(2), 72);
  EXPECT_EQ(f.StringGrid1->rowHeight(5), 20);
  EXPECT_EQ(Cell(1, 0), "Subcode file");
  EXPECT_EQ(Cell(2, 0), "Code Type");
  EXPECT_EQ(Cell(3, 0), "Update Flag");
  EXPECT_EQ(Cell(0, 1), "Boot Loader");
  EXPECT_EQ(Cell(0, 2), "SubCode-0");
  EXPECT_EQ(Cell(0, 11), "SubCode-9");
  EXPECT_TRUE(f.Edit1->isHidden());
  EXPECT_TRUE(f.ComboBox1->isHidden());
  EXPECT_EQ(f.ComboBox1->itemText(0), "FALSE");
  EXPECT_EQ(f.ComboBox1->itemText(1), "TRUE");
  EXPECT_EQ(f.CheckBox2->text(), "RAID Mode setting by  jumper");
  EXPECT_TRUE(f.CheckBox2->isChecked());
  EXPECT_EQ(f.CheckBox3->text(), "QX7100B chip");
  EXPECT_TRUE(f.CheckBox3->isChecked());
  EXPECT_EQ(f.Edit2->text(), "1");
  EXPECT_EQ(f.Edit3->text(), "2000");
  EXPECT_EQ(f.Edit4->text(), "1");
  EXPECT_EQ(f.Edit5->text(), "50");
  EXPECT_FALSE(f.CheckBox4->isChecked());
  EXPECT_FALSE(f.CheckBox5->isChecked());
  ASSERT_EQ(f.StatusBar1->panelCount(), 4);
  EXPECT_EQ(f.StatusBar1->panelWidth(3), 130);
  EXPECT_EQ(random.seeds.size(), 1u);
}

TEST_F(MakeBinDialogTest, AddingThreeFilesAtOnceAndReopeningKeepsOnlyTheBootLoader) {
  AddThree();
  ASSERT_EQ(dialogs.openOptions.size(), 1u);
  EXPECT_TRUE(dialogs.openOptions[0].multiSelect);
  EXPECT_EQ(dialogs.openOptions[0].filter, "Binary code (*.bin)|*.bin|All files (*.*)|*.*");
  EXPECT_EQ(dialogs.openOptions[0].initialDir, QDir::homePath().toStdString());
  EXPECT_EQ(list.count, 2);
  EXPECT_THAT(Column(1), ElementsAre("SPIHEAD.BIN", "A01.BIN", "B02.BIN", ""));
  EXPECT_THAT(Column(2), ElementsAre("", "01h", "02h", ""));
  EXPECT_THAT(Column(3), ElementsAre("", "TRUE", "TRUE", ""));

  Open();
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.entries[0].path, dir / "SPIHEAD.BIN") << "the boot loader is kept between openings";
  Add({});  // cancelled
  EXPECT_THAT(Column(1), ElementsAre("SPIHEAD.BIN", "", "", ""));
}

TEST_F(MakeBinDialogTest, EditingTheListInTheGrid) {
  AddThree();
  Add({File("X1A.BIN", {1})});
  QTableWidget* grid = form->StringGrid1;

  // Selecting shows the entry in the status bar.
  grid->setCurrentCell(2, 1);
  EXPECT_EQ(form->StatusBar1->panelText(2), "1");
  EXPECT_EQ(form->StatusBar1->panelText(3), QString::fromStdString(dir / "A01.BIN"));
  grid->setCurrentCell(4, 2);
  EXPECT_EQ(form->StatusBar1->panelText(3), "1A");

  // Enter on row 1 does nothing; on a code type it opens Edit1 over the cell.
  grid->setCurrentCell(1, 2);
  QTest::keyClick(grid, Qt::Key_Return);
  EXPECT_TRUE(form->Edit1->isHidden());
  grid->setCurrentCell(2, 2);
  QTest::keyClick(grid, Qt::Key_Return);
  ASSERT_FALSE(form->Edit1->isHidden());
  EXPECT_EQ(form->Edit1->text(), "01h");
  form->Edit1->setText("18");  // decimal
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  EXPECT_TRUE(form->Edit1->isHidden());
  EXPECT_EQ(list.entries[1].codeType, 18);
  EXPECT_EQ(Cell(2, 2), "12h");
  // The cell's own text reads back as hexadecimal.
  form->StringGrid1DblClick();
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  EXPECT_EQ(list.entries[1].codeType, 0x12);

  // The update flag through the combo box.
  grid->setCurrentCell(3, 3);
  form->StringGrid1DblClick();
  ASSERT_FALSE(form->ComboBox1->isHidden());
  EXPECT_EQ(form->ComboBox1->currentIndex(), 1);
  form->ComboBox1Select(0);
  EXPECT_TRUE(form->ComboBox1->isHidden());
  EXPECT_EQ(Cell(3, 3), "FALSE");

  // "+" moves up, "-" down (not from the last filled row), Delete removes.
  grid->setCurrentCell(3, 1);
  QTest::keyClick(grid, '+');
  EXPECT_EQ(grid->currentRow(), 2);
  EXPECT_THAT(Column(1), ElementsAre("SPIHEAD.BIN", "B02.BIN", "A01.BIN", "X1A.BIN"));
  grid->setCurrentCell(4, 1);
  QTest::keyClick(grid, '-');
  EXPECT_EQ(grid->currentRow(), 4);
  grid->setCurrentCell(1, 1);
  QTest::keyClick(grid, '-');
  EXPECT_EQ(grid->currentRow(), 2);
  EXPECT_THAT(Column(1), ElementsAre("B02.BIN", "SPIHEAD.BIN", "A01.BIN", "X1A.BIN"));
  QTest::keyClick(grid, Qt::Key_Delete);
  EXPECT_EQ(list.count, 2);
  EXPECT_THAT(Column(1), ElementsAre("B02.BIN", "A01.BIN", "X1A.BIN", ""));
  EXPECT_THAT(Column(2), ElementsAre("", "12h", "1Ah", ""));
}

TEST_F(MakeBinDialogTest, SaveBinInstallsTheImageAndSavesItUnderABinName) {
  struct Case {
    const char* chosen;
    const char* written;
  };
  for (const Case& c :
       {Case{"image.dat", "image.bin"}, Case{"image", "image.bin"}, Case{"image.bin", "image.bin"}}) {
    SCOPED_TRACE(c.chosen);
    std::filesystem::remove(dir / "image.bin");
    Open();
    AddThree();
    form->Edit3->setText("7D0H");
    dialogs.saveAnswers.push_back(dir / c.chosen);
    form->Button2->click();
    EXPECT_TRUE(dialogs.shown.empty());
    ASSERT_EQ(state.ImageSize, 0x80000u);
    EXPECT_EQ(form->StatusBar1->panelText(1), "491520");
    EXPECT_EQ(form->StatusBar1->panelText(0), "524288");
    EXPECT_EQ(form->StatusBar1->panelText(2), "524288");
    EXPECT_EQ(form->StatusBar1->panelText(3), QString::fromStdString("Svae File OK :" + dir / c.written));
    EXPECT_EQ(form->result(), QDialog::Accepted) << "Save Bin closes the dialog";
    EXPECT_EQ(ReadAll(dir / c.written), Image());
    EXPECT_EQ(Image()[0x78000 + 109], 0xD0);
    EXPECT_EQ(Image()[0x78000 + 110], 0x07);
    EXPECT_EQ(dialogs.saveOptions.back().initialDir, QDir::homePath().toStdString());
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "image.dat"));
}

TEST_F(MakeBinDialogTest, AFileThatCannotBeCreatedKeepsTheBuiltImage) {
  AddThree();
  dialogs.saveAnswers.push_back(dir / "no-such-folder/image");
  form->Button2->click();
  EXPECT_THAT(dialogs.shown,
              ElementsAre(Message{"Fail to create file", "Error", MessageIcon::Error, MessageOwner::None}));
  EXPECT_EQ(state.ImageSize, 0x80000u);
}

// A build that fails or is refused leaves the loaded image exactly as it was, and the dialog
// open; it never installs a half-built image.
TEST_F(MakeBinDialogTest, AFailedBuildLeavesTheLoadedImageUntouched) {
  const std::vector<std::uint8_t> loaded = testing::MakeFirmwareImage(0x80000, 3);
  InstallImage(state, loaded);
  struct Case {
    const char* what;
    std::function<void(MakeBinDialogTest&)> setUp;
  };
  const std::vector<Case> cases = {
      {"a sub-code that does not open", [](MakeBinDialogTest& t) { t.Add({t.dir / "GONE01.BIN"}); }},
      {"an invalid number", [](MakeBinDialogTest& t) { t.form->Edit5->setText("5O"); }},
      {"no size chosen", [](MakeBinDialogTest& t) { t.form->CheckBox1->click(); }},
      {"a size below the record area",
       [](MakeBinDialogTest& t) {
         t.form->CheckBox1->click();
         t.form->RadioButton1->click();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open();
    AddThree();
    dialogs.shown.clear();
    c.setUp(*this);
    form->Button2->click();
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(Image(), loaded);
    EXPECT_TRUE(dialogs.saveOptions.empty()) << "no save dialog";
    EXPECT_NE(form->result(), QDialog::Accepted);
  }
}

// The main window's hidden "Make BIN" button opens the dialog; the image it builds loads
// through "Load Firmware " and "Start Upgrade" writes it into a simulated enclosure.
TEST(MakeBinFromTheMainWindow, ABuiltImageUpgradesAnEnclosure) {
  testing::FakeClock clock;
  sim::SimWorld world{clock};
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  testing::TempDir dir;
  world.AddEnclosure(1, sim::EnclosureConfig{});
  world.DeviceChanges()->TakeNotifications();
  TForm1 form(ProgramServices{world, dialogs, clock, random});
  form.Timer4->stop();
  ASSERT_TRUE(testing::PumpUntil([&] { return form.state().DetectDone.load(); }));
  form.Timer4Timer();
  ASSERT_EQ(form.state().DeviceCount, 1);
  ASSERT_TRUE(testing::PumpUntil([&] { return form.state().RequestFlags == 0; }));

  testing::WriteBytes(dir / "SPIHEAD.BIN", BootLoader());
  testing::WriteBytes(dir / "SUB12.BIN", std::vector<std::uint8_t>(3000, 0x12));
  dialogs.openAnswers.push_back({dir / "SPIHEAD.BIN", dir / "SUB12.BIN"});
  dialogs.saveAnswers.push_back(dir / "built");
  bool opened = false;
  QTimer::singleShot(0, [&opened] {
    if (auto* d = qobject_cast<TForm2*>(QApplication::activeModalWidget())) {
      opened = true;
      d->Button1->click();
      d->Button2->click();
    }
  });
  form.Button9Click();
  ASSERT_TRUE(opened);
  const std::vector<std::uint8_t> built(form.state().ImageBuffer.get(),
                                        form.state().ImageBuffer.get() + form.state().ImageSize);
  ASSERT_EQ(built.size(), 0x80000u);
  EXPECT_EQ(ReadAll(dir / "built.bin"), built);

  // Busy: the button opens nothing.
  form.state().OperationBusy = true;
  bool openedWhileBusy = false;
  QTimer::singleShot(0, [&openedWhileBusy] {
    if (auto* d = qobject_cast<TForm2*>(QApplication::activeModalWidget())) {
      openedWhileBusy = true;
      d->reject();
    }
  });
  form.Button9Click();
  QCoreApplication::processEvents();
  EXPECT_FALSE(openedWhileBusy);
  form.state().OperationBusy = false;

  dialogs.openAnswers.push_back({dir / "built.bin"});
  form.BitBtn1->click();
  ASSERT_EQ(form.state().ImageSize, 0x80000u);
  form.Button2->click();
  EXPECT_EQ(world.Flash(1), built);
}

// Both tabs with three files added, for the eye.
TEST_F(MakeBinDialogTest, Screenshot) {
  AddThree();
  form->StringGrid1->setCurrentCell(2, 2);
  form->show();
  ASSERT_TRUE(form->grab().save("/tmp/makebin_make.png"));
  form->PageControl1->setCurrentIndex(1);
  ASSERT_TRUE(form->grab().save("/tmp/makebin_setting.png"));
}

}  // namespace
}  // namespace caspira
