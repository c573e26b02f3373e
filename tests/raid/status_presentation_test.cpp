// The RAID panel computed from hand-built status records: texts, colours, greyed labels,
// what is left alone, and the presentation state carried from one call to the next.
#include "raid/status_presentation.h"

#include <gtest/gtest.h>

#include <ostream>

#include "raid/record_bytes.h"

namespace caspira {

void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "Rgb(" << int{c.red} << ", " << int{c.green} << ", " << int{c.blue} << ")";
}

namespace {

using testing::RecordBytes;
using Text = std::optional<std::string>;

constexpr std::uint64_t kGiB = 1ULL << 21;  // sectors

void ExpectLabel(const LabelUpdate& actual, const LabelUpdate& expected, const char* name) {
  SCOPED_TRACE(name);
  EXPECT_EQ(actual.text, expected.text);
  EXPECT_EQ(actual.color, expected.color);
  EXPECT_EQ(actual.enabled, expected.enabled);
}

class PresentStatusTest : public ::testing::Test {
 protected:
  PresentStatusTest() {
    input.firmwareRevisionText = "F/W Rev. 090619.1";
    input.autoScanSupported = true;
    record.SettingSource(0x11)
        .Mode(1)
        .Configured(465 * kGiB)
        .Ports(0x22)
        .Sata(0x32)
        .Suffix('A', '1', '0')
        .P0Serial("SER-P0")
        .P1Serial("SER-P1")
        .P0Model("MODEL ZERO")
        .P1Model("MODEL ONE")
        .P0Sectors(465 * kGiB)
        .P1Sectors(931 * kGiB);
  }

  // Presents the record as it stands and keeps the presentation state for the next call.
  StatusPanelUpdate Present(bool force = false) {
    input.force = force;
    const StatusPanelUpdate out = PresentRaidStatus(DecodeRaidStatusRecord(record.bytes()), input);
    input.state = out.state;
    return out;
  }

  RecordBytes record;
  PresentStatusInput input;
};

const std::string kP0Serial = "SER-P0" + std::string(14, ' ');
const std::string kP1Serial = "SER-P1" + std::string(14, ' ');
const std::string kP0Model = "MODEL ZERO" + std::string(30, ' ');
const std::string kP1Model = "MODEL ONE" + std::string(31, ' ');
const std::string kP0Foot = "\nCapacity: 465 GB\n" + kP0Model;
const std::string kP1Foot = "\nCapacity: 931 GB\n" + kP1Model;

TEST_F(PresentStatusTest, ModeNameGoesToLabel17) {
  const struct {
    std::uint8_t mode;
    const char* name;
  } cases[] = {{0, "Striping"},  {2, "NRAID"},    {3, "JBOD"},
               {0x3F, "Bypass"}, {4, "Undefine"}, {0x40, "Undefine"}};
  for (const auto& c : cases) {
    record.Mode(c.mode);
    EXPECT_EQ(Present().Label17.text, Text(c.name)) << static_cast<int>(c.mode);
  }
}

TEST_F(PresentStatusTest, SettingSourceSetsBuzzerMuteAndAutoScan) {
  const struct {
    std::uint8_t source;
    bool buzzerMute, autoScan;
  } cases[] = {{0xF3, false, true}, {0x10, true, false}, {0x11, false, false}, {0x12, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.source));
    record.SettingSource(c.source);
    const StatusPanelUpdate out = Present();
    EXPECT_EQ(out.CheckBox6.checked, c.buzzerMute);
    EXPECT_EQ(out.CheckBox7.checked, c.autoScan);
  }
}

TEST_F(PresentStatusTest, FirmwareLineEndsWithTheSuffix) {
  EXPECT_EQ(Present().StaticText5.text, Text("F/W Rev. 090619.1.A10"));
  record.Suffix('a', '1', '0');
  EXPECT_EQ(Present().StaticText5.text, Text("F/W Rev. 090619.1.C00"));
}

TEST_F(PresentStatusTest, BothDisksInitializedShowBlackOverNavyAndNormal) {
  const StatusPanelUpdate out = Present(true);
  ExpectLabel(out.Label19, {"P0 is initialized(SATA2)\nSerial# :" + kP0Serial, kBlack, true}, "Label19");
  ExpectLabel(out.Label25, {kP0Foot, kNavy, true}, "Label25");
  ExpectLabel(out.Label24, {"P1 is initialized(SATA3)\nSerial# :" + kP1Serial, kBlack, true}, "Label24");
  ExpectLabel(out.Label26, {kP1Foot, kNavy, true}, "Label26");
  EXPECT_EQ(out.Label27.text, Text(" Capacity: 465 GB"));
  EXPECT_EQ(out.Label18.text, Text("Normal"));
  EXPECT_EQ(out.Button3.visible, false);
  EXPECT_EQ(out.Button4.visible, false);
  EXPECT_EQ(out.Button1.visible, std::nullopt) << "Log keeps its visibility";
  EXPECT_TRUE(out.clearFirstStatusPending);
}

TEST_F(PresentStatusTest, AbsentDiskIsGreyedOverItsLastCapacityText) {
  Present(true);
  record.Ports(0x24);
  const StatusPanelUpdate out = Present();
  ExpectLabel(out.Label19, {" P0 is absent ", std::nullopt, false}, "Label19");
  ExpectLabel(out.Label25, {std::nullopt, std::nullopt, false}, "Label25 keeps its text");
  ExpectLabel(out.Label24, {"P1 is initialized(SATA3)\nSerial# :" + kP1Serial, kBlack, true}, "Label24");
  EXPECT_EQ(out.Label18.text, Text("Single HDD\nPresent"));
}

TEST_F(PresentStatusTest, EachPortStateDrawsItsColumn) {
  const auto shown = [](std::string text, Rgb color) { return LabelUpdate{std::move(text), color, true}; };
  const auto textOnly = [](std::string text) {
    return LabelUpdate{std::move(text), std::nullopt, std::nullopt};
  };
  const auto greyed = [](Text text) { return LabelUpdate{std::move(text), std::nullopt, false}; };
  const std::string p0Initialized = "P0 is initialized(SATA2)\nSerial# :" + kP0Serial;
  const std::string p1Initialized = "P1 is initialized(SATA3)\nSerial# :" + kP1Serial;
  const std::string p0Failed = "P0 is failed, Capacity too small.\nSerial# :" + kP0Serial;
  const std::string p1Failed = "P1 is failed, Capacity too small.\nSerial# :" + kP1Serial;
  const struct {
    const char* name;
    std::uint8_t ports;
    LabelUpdate l19, l25, l24, l26;
    const char* state;
  } cases[] = {
      {"both failed", 0x88, shown(p0Failed, kRed), shown(kP0Foot, kRed), shown(p1Failed, kRed),
       shown(kP1Foot, kRed), "Failure"},
      {"both inserted", 0x11, textOnly(" P0 is inserted "), {}, textOnly(" P1 was inserted "), {}, "Failure"},
      {"no flags", 0x00, textOnly(""), textOnly(""), textOnly(""), textOnly(""), "Failure"},
      {"absent wins over initialized", 0x66, greyed(" P0 is absent "), greyed(std::nullopt),
       greyed(" P1 is absent "), greyed(std::nullopt), "Normal"},
      {"initialized wins over failed and inserted", 0xBB, shown(p0Initialized, kBlack), shown(kP0Foot, kNavy),
       shown(p1Initialized, kBlack), shown(kP1Foot, kNavy), "Normal"},
      {"failed wins over inserted", 0x99, shown(p0Failed, kRed), shown(kP0Foot, kRed), shown(p1Failed, kRed),
       shown(kP1Foot, kRed), "Failure"},
      {"P1 only initialized", 0x20, textOnly(""), textOnly(""), shown(p1Initialized, kBlack),
       shown(kP1Foot, kNavy), "Single HDD\nPresent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    record.Ports(c.ports);
    const StatusPanelUpdate out = Present(true);
    ExpectLabel(out.Label19, c.l19, "Label19");
    ExpectLabel(out.Label25, c.l25, "Label25");
    ExpectLabel(out.Label24, c.l24, "Label24");
    ExpectLabel(out.Label26, c.l26, "Label26");
    EXPECT_EQ(out.Label18.text, Text(c.state));
  }
}

TEST_F(PresentStatusTest, CapacityDropsTheRemainder) {
  record.Configured(465 * kGiB + kGiB / 2).P0Sectors(465 * kGiB + kGiB / 2).P1Sectors(kGiB - 1);
  const StatusPanelUpdate out = Present(true);
  EXPECT_EQ(out.Label27.text, Text(" Capacity: 465 GB"));
  EXPECT_EQ(out.Label25.text, Text(kP0Foot));
  EXPECT_EQ(out.Label26.text, Text("\nCapacity: 0 GB\n" + kP1Model));
}

TEST_F(PresentStatusTest, ColumnsAreRedrawnOnlyWhenForcedOrWhenThePortFlagsChange) {
  Present(true);
  record.P0Serial("OTHER").P1Model("OTHER").Configured(100 * kGiB);
  StatusPanelUpdate out = Present();
  for (const LabelUpdate* l : {&out.Label19, &out.Label25, &out.Label24, &out.Label26, &out.Label27}) {
    EXPECT_EQ(l->text, std::nullopt);
    EXPECT_EQ(l->color, std::nullopt);
    EXPECT_EQ(l->enabled, std::nullopt);
  }
  EXPECT_EQ(out.Label18.text, Text("Normal")) << "the state text is always drawn";
  EXPECT_EQ(out.state.ShownPortFlags, 0x22);

  out = Present(true);
  EXPECT_EQ(out.Label19.text, Text("P0 is initialized(SATA2)\nSerial# :OTHER" + std::string(15, ' ')));
  EXPECT_EQ(out.Label27.text, Text(" Capacity: 100 GB"));

  record.Ports(0x23);
  out = Present();
  EXPECT_EQ(out.state.ShownPortFlags, 0x23);
  EXPECT_EQ(out.Label27.text, Text(" Capacity: 100 GB"));
}

TEST_F(PresentStatusTest, ProgressTextsAndScanButtons) {
  const ButtonUpdate hidden{std::nullopt, false};
  const struct {
    const char* name;
    bool autoScanSupported;
    std::uint8_t activity;
    std::uint8_t percent;
    const char* text;
    ButtonUpdate button3, button4;
  } cases[] = {
      {"rebuild toward P1", true, 0x02, 37, "Rebuild\n-> 37% ->", hidden, hidden},
      {"rebuild toward P0", true, 0x01, 37, "Rebuild\n<- 37% <-", hidden, hidden},
      {"P0 scan without auto-scan support is a rebuild", false, 0x81, 37, "Rebuild\n<- 37% <-", hidden,
       hidden},
      {"P1 scan without auto-scan support is a rebuild", false, 0x82, 5, "Rebuild\n-> 5% ->", hidden, hidden},
      {"P0 scan", true, 0x81, 37, "P0 Scan\n37%", {"Stop P0 Scan", true}, hidden},
      {"P1 scan", true, 0x82, 0, "P1 Scan\n0%", hidden, {"Stop P1 Scan", true}},
      {"both sides: P0 is named", true, 0x83, 100, "P0 Scan\n100%", {"Stop P0 Scan", true}, hidden},
      {"rebuild with a bad sector mark", true, 0x06, 99, "Rebuild\n-> 99% ->", hidden, hidden},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    input.state = {};
    input.autoScanSupported = c.autoScanSupported;
    record.Activity(c.activity).Percent(c.percent);
    const StatusPanelUpdate out = Present();
    EXPECT_EQ(out.Label18.text, Text(c.text));
    EXPECT_EQ(out.Button3.caption, c.button3.caption);
    EXPECT_EQ(out.Button3.visible, c.button3.visible);
    EXPECT_EQ(out.Button4.caption, c.button4.caption);
    EXPECT_EQ(out.Button4.visible, c.button4.visible);
    EXPECT_EQ(out.Button1.visible, true);
    EXPECT_EQ(out.state.ShownPercent, c.percent);
  }
}

TEST_F(PresentStatusTest, AnUnchangedPercentIsNotRedrawn) {
  record.Activity(0x81).Percent(37);
  Present();
  StatusPanelUpdate out = Present();
  EXPECT_EQ(out.Label18.text, std::nullopt);
  EXPECT_EQ(out.Button3.caption, std::nullopt) << "the scan buttons stay as they are";
  EXPECT_EQ(out.Button3.visible, std::nullopt);
  EXPECT_EQ(out.Button4.visible, std::nullopt);
  EXPECT_EQ(out.Button1.visible, true);

  record.Activity(0x02);  // a rebuild hides the scan buttons even at an unchanged percent
  out = Present();
  EXPECT_EQ(out.Label18.text, std::nullopt);
  EXPECT_EQ(out.Button3.visible, false);
  EXPECT_EQ(out.Button4.visible, false);

  record.Percent(38);
  EXPECT_EQ(Present().Label18.text, Text("Rebuild\n-> 38% ->"));
}

TEST_F(PresentStatusTest, NoActivityForgetsTheShownPercent) {
  record.Activity(0x02).Percent(37);
  EXPECT_EQ(Present().state.ShownPercent, 37);
  record.Activity(0x00);
  const StatusPanelUpdate idle = Present();
  EXPECT_EQ(idle.state.ShownPercent, 0xFF);
  EXPECT_EQ(idle.Label18.text, Text("Normal"));
  record.Activity(0x02);
  EXPECT_EQ(Present().Label18.text, Text("Rebuild\n-> 37% ->")) << "drawn at once, same percent";
}

TEST_F(PresentStatusTest, BadSectorMarksFollowTheirBits) {
  const struct {
    std::uint8_t activity;
    const char* p0;
    const char* p1;
  } cases[] = {
      {0x04, "Bad Sector", ""}, {0x08, "", "Bad Sector"}, {0x0C, "Bad Sector", "Bad Sector"}, {0, "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.activity));
    record.Activity(c.activity);
    const StatusPanelUpdate out = Present();
    EXPECT_EQ(out.StaticText6.text, Text(c.p0));
    EXPECT_EQ(out.StaticText7.text, Text(c.p1));
    EXPECT_EQ(out.Label18.text, Text("Normal")) << "a bad sector alone is no activity";
  }
}

TEST_F(PresentStatusTest, AnAllZeroRecordShowsStripingMutedAndFailure) {
  record = RecordBytes();
  const StatusPanelUpdate out = Present(true);
  EXPECT_EQ(out.StaticText5.text, Text("F/W Rev. 090619.1.C00"));
  EXPECT_EQ(out.Label17.text, Text("Striping"));
  EXPECT_EQ(out.CheckBox6.checked, true);
  EXPECT_EQ(out.CheckBox7.checked, false);
  for (const LabelUpdate* l : {&out.Label19, &out.Label25, &out.Label24, &out.Label26})
    EXPECT_EQ(l->text, Text(""));
  EXPECT_EQ(out.Label27.text, Text(" Capacity: 0 GB"));
  EXPECT_EQ(out.Label18.text, Text("Failure"));
  EXPECT_EQ(out.StaticText6.text, Text(""));
  EXPECT_EQ(out.StaticText7.text, Text(""));
  EXPECT_TRUE(out.clearFirstStatusPending);
}

TEST_F(PresentStatusTest, NoPortFlagsDuringTrackedProgressDrawOnlyTheFirmwareLine) {
  Present(true);
  record.Ports(0x00).Activity(0x02).Percent(50);
  input.lastPercent = 40;
  const PresentationState before = input.state;
  const StatusPanelUpdate out = Present(true);
  EXPECT_EQ(out.StaticText5.text, Text("F/W Rev. 090619.1.A10"));
  EXPECT_FALSE(out.clearFirstStatusPending);
  EXPECT_EQ(out.CheckBox6.checked, std::nullopt);
  EXPECT_EQ(out.Label17.text, std::nullopt);
  EXPECT_EQ(out.Label19.text, std::nullopt);
  EXPECT_EQ(out.Label18.text, std::nullopt);
  EXPECT_EQ(out.Button1.visible, std::nullopt);
  EXPECT_EQ(out.state.ShownPortFlags, before.ShownPortFlags);
  EXPECT_EQ(out.state.ShownPercent, before.ShownPercent);

  input.lastPercent = 0xFF;  // the recorder tracks nothing: the empty columns are drawn
  const StatusPanelUpdate drawn = Present();
  EXPECT_TRUE(drawn.clearFirstStatusPending);
  EXPECT_EQ(drawn.Label19.text, Text(""));
}

// While the user's settings are on their way to the device, a poll may still read the old
// ones: a pending write shows the user's choice (even when forced), a write sent a moment
// ago leaves the boxes alone until its cooldown is over, unless a redraw is forced.
TEST_F(PresentStatusTest, SettingsBoxesFollowTheUsersChoiceWhileAWriteIsInFlight) {
  record.SettingSource(0x10);                // muted, auto scan off: the device's state before the write
  const SettingsChoice choice{false, true};  // what the user clicked: sound on, auto scan on
  using Box = std::optional<bool>;
  const struct {
    const char* name;
    std::optional<SettingsChoice> pending;
    std::uint8_t cooldown;
    bool force;
    Box buzzerMute;
    Box autoScan;
  } cases[] = {
      {"nothing in flight", std::nullopt, 0, false, true, false},
      {"request pending", choice, 0, false, false, true},
      {"request pending, forced redraw", choice, 0, true, false, true},
      {"pending and cooling down", choice, 3, true, false, true},
      {"cooling down", std::nullopt, 4, false, std::nullopt, std::nullopt},
      {"last cooldown tick", std::nullopt, 1, false, std::nullopt, std::nullopt},
      {"cooling down, forced redraw of another tab or the first status", std::nullopt, 2, true, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    input.pendingSettings = c.pending;
    input.settingsCooldown = c.cooldown;
    const StatusPanelUpdate out = Present(c.force);
    EXPECT_EQ(out.CheckBox6.checked, c.buzzerMute);
    EXPECT_EQ(out.CheckBox7.checked, c.autoScan);
    EXPECT_EQ(out.Label17.text, Text("Mirror")) << "the rest of the panel is drawn";
    EXPECT_TRUE(out.clearFirstStatusPending);
  }
}

}  // namespace
}  // namespace caspira
