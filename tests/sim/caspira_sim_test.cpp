// caspira-sim runs headless over the built-in demo and refuses bad scenario files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/process.h"

namespace caspira::sim::testing {
namespace {

using caspira::testing::Child;
using caspira::testing::TempDir;

TEST(CaspiraSimTest, HeadlessDemoRunWritesADumpOfTheMainWindow) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string dump = dir / "dump.json";
  Child sim(CASPIRA_SIM_PATH, {"--speed", "20", "--run-for", "10", "--dump", dump},
            {"XDG_RUNTIME_DIR=" + dir.path(), "QT_QPA_PLATFORM=offscreen"});
  ASSERT_TRUE(sim.started());
  const auto status = sim.WaitForExit(std::chrono::seconds(120));
  ASSERT_TRUE(status.has_value()) << "caspira-sim did not finish";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);

  QFile file(QString::fromStdString(dump));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
  const QJsonObject main = doc.object()["mainWindow"].toObject();
  bool start = false;
  for (const auto control : main["controls"].toArray())
    start = start || control.toObject()["name"].toString() == "Button10";
  EXPECT_TRUE(start) << "the main window's controls are in the dump";
  EXPECT_TRUE(main["statusPanels"].isArray());
}

// More volumes than the drive table holds: the first detection raises the ownerless
// "Drive Count Must less than 20." box, which nobody answers in a headless run.
TEST(CaspiraSimTest, AHeadlessRunEndsOnTimeWithABoxOpenAndTheDumpListsTheBox) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  {
    std::ofstream scenario(dir / "volumes.scn");
    scenario << "enclosure 1 sata\n";
    for (char letter = 'C'; letter <= 'Z'; ++letter) scenario << "volume " << letter << " drive 1\n";
  }
  const std::string dump = dir / "dump.json";
  Child sim(CASPIRA_SIM_PATH, {"--speed", "20", "--run-for", "10", "--dump", dump, dir / "volumes.scn"},
            {"XDG_RUNTIME_DIR=" + dir.path(), "QT_QPA_PLATFORM=offscreen"});
  ASSERT_TRUE(sim.started());
  const auto status = sim.WaitForExit(std::chrono::seconds(120));
  ASSERT_TRUE(status.has_value()) << "caspira-sim did not end while the box was open";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);

  QFile file(QString::fromStdString(dump));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
  const QJsonArray boxes = doc.object()["messageBoxes"].toArray();
  ASSERT_FALSE(boxes.isEmpty()) << doc.toJson().toStdString();
  const QJsonObject box = boxes.first().toObject();
  EXPECT_EQ(box["text"].toString(), "Drive Count Must less than 20.");
  EXPECT_EQ(box["title"].toString(), "");
  EXPECT_EQ(box["buttons"].toArray(), QJsonArray{"OK"});
  EXPECT_FALSE(box["modal"].toBool());
  // The window went on behind the box: the enclosure is shown.
  bool labelled = false;
  for (const auto control : doc.object()["mainWindow"].toObject()["controls"].toArray())
    labelled = labelled || (control.toObject()["name"] == "StaticText1" &&
                            control.toObject()["text"].toString().startsWith("1/1 Device1["));
  EXPECT_TRUE(labelled);
}

// With --start the demo monitors live; --page 2 shows the scanning enclosure.
TEST(CaspiraSimTest, StartAndPageShowTheSecondDevicesScanInTheDump) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string dump = dir / "dump.json";
  Child sim(CASPIRA_SIM_PATH, {"--speed", "20", "--start", "--page", "2", "--run-for", "10", "--dump", dump},
            {"XDG_RUNTIME_DIR=" + dir.path(), "QT_QPA_PLATFORM=offscreen"});
  ASSERT_TRUE(sim.started());
  const auto status = sim.WaitForExit(std::chrono::seconds(120));
  ASSERT_TRUE(status.has_value()) << "caspira-sim did not finish";
  ASSERT_TRUE(WIFEXITED(*status));

  QFile file(QString::fromStdString(dump));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QJsonObject main = QJsonDocument::fromJson(file.readAll()).object()["mainWindow"].toObject();
  QJsonObject controls;
  for (const auto control : main["controls"].toArray())
    controls[control.toObject()["name"].toString()] = control.toObject();
  const auto text = [&](const char* name) {
    return controls[name].toObject()["text"].toString().toStdString();
  };
  EXPECT_EQ(main["activePage"].toInt(), 1);
  EXPECT_FALSE(controls["Button10"].toObject()["enabled"].toBool()) << "Start was pressed";
  EXPECT_TRUE(controls["Button11"].toObject()["enabled"].toBool());
  EXPECT_EQ(text("Label18").rfind("P0 Scan\n", 0), 0u) << text("Label18");
  EXPECT_EQ(text("Button3"), "Stop P0 Scan");
  EXPECT_TRUE(controls["Button3"].toObject()["visible"].toBool());
  EXPECT_EQ(text("StaticText6"), "Bad Sector");
  EXPECT_EQ(controls["StaticText6"].toObject()["color"].toString(), "#ff0000");
  EXPECT_EQ(text("StaticText5"), "F/W Rev. 091102.3.C12");
}

// Runs caspira-sim with one argument and its error output in a file; returns the exit code.
int RunCapturing(const std::string& arg, const std::string& errorFile) {
  const std::string command = "'" + std::string(CASPIRA_SIM_PATH) + "' '" + arg + "' 2> '" + errorFile + "'";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(CaspiraSimTest, BadScenarioFilesEndWithAClearMessageAndCode2) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::ofstream(dir / "bad.scn") << "disk 0\nenclosure 1 sata\nraid 1 mode sideways\n";
  EXPECT_EQ(RunCapturing(dir / "bad.scn", dir / "err1"), 2);
  EXPECT_NE(Contents(dir / "err1").find("bad.scn: line 3: a RAID mode is"), std::string::npos)
      << Contents(dir / "err1");

  EXPECT_EQ(RunCapturing(dir / "none.scn", dir / "err2"), 2);
  EXPECT_NE(Contents(dir / "err2").find("none.scn: cannot be read"), std::string::npos)
      << Contents(dir / "err2");

  EXPECT_EQ(RunCapturing(dir.path(), dir / "err3"), 2);
  EXPECT_NE(Contents(dir / "err3").find(": is a directory, not a scenario file"), std::string::npos)
      << Contents(dir / "err3");
}

}  // namespace
}  // namespace caspira::sim::testing
