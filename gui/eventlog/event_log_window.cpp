#include "eventlog/event_log_window.h"

#include <QApplication>
#include <QFont>
#include <QShowEvent>
#include <QStringList>
#include <algorithm>

#include "raid/log_file_store.h"
#include "shell/request_flags.h"

namespace caspira {
namespace {

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TForm5::TForm5(EventLogSource source, QWidget* parent) : QDialog(parent), source_(std::move(source)) {
  setObjectName("Form5");
  setWindowTitle("Event Log");
  // A close box only: no minimise or maximise.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  resize(640, 420);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(8, 8, 624, 364);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont bold = Memo1->font();
  bold.setBold(true);
  Memo1->setFont(bold);

  Button1 = new QPushButton("Real Time Log", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(8, 382, 120, 28);
  Button1->setAutoDefault(false);
  Button2 = new QPushButton("View Log File", this);
  Button2->setObjectName("Button2");
  Button2->setGeometry(136, 382, 120, 28);
  Button2->setAutoDefault(false);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(static_cast<int>(std::max<std::chrono::milliseconds::rep>(1, source_.tick.count())));

  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  FormCreate();
}

QColor TForm5::LiveTextColor() {
  return QApplication::palette().color(QPalette::Active, QPalette::Text);
}

QColor TForm5::PausedTextColor() {
  return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
}

std::vector<std::string> TForm5::ViewLines() const {
  std::vector<std::string> lines;
  if (Memo1->document()->isEmpty()) return lines;
  for (const QString& line : Memo1->toPlainText().split('\n')) {
    const QByteArray bytes = line.toLatin1();
    lines.emplace_back(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }
  return lines;
}

QColor TForm5::ViewTextColor() const {
  return Memo1->palette().color(QPalette::Active, QPalette::Text);
}

bool TForm5::Monitoring() const {
  return (source_.requestFlags.load() & RequestFlag::Monitoring) != 0;
}

void TForm5::SetTextColor(const QColor& color) {
  QPalette palette = Memo1->palette();
  palette.setColor(QPalette::Active, QPalette::Text, color);
  palette.setColor(QPalette::Inactive, QPalette::Text, color);
  Memo1->setPalette(palette);
}

void TForm5::ApplyRealTimeState() {
  if (Monitoring()) {
    setWindowTitle(kLiveCaption);
    SetTextColor(LiveTextColor());
  } else {
    setWindowTitle(kPausedCaption);
    SetTextColor(PausedTextColor());
  }
}

void TForm5::AppendLogLines(std::size_t from, std::size_t to) {
  to = std::min(to, source_.log.Count());
  if (from >= to) return;
  QStringList lines;
  lines.reserve(static_cast<qsizetype>(to - from));
  for (std::size_t i = from; i < to; ++i) lines.append(Latin1(source_.log.Line(i)));
  Memo1->appendPlainText(lines.join('\n'));
}

void TForm5::FormCreate() {
  Memo1->clear();
  source_.mirroredLines = static_cast<std::int32_t>(source_.log.Count());
}

void TForm5::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Restoring a minimised window is no new showing.
  if (!event->spontaneous()) FormShow();
}

void TForm5::FormShow() {
  ApplyRealTimeState();
  // The lines present when the window was made, in both states.
  AppendLogLines(0, static_cast<std::size_t>(std::max(0, source_.mirroredLines)));
  Timer1->start();
}

void TForm5::Timer1Timer() {
  if (!Monitoring()) {
    // Paused: nothing is copied, and lines added meanwhile come at the first live tick.
    setWindowTitle(kPausedCaption);
    SetTextColor(PausedTextColor());
    return;
  }
  setWindowTitle(kLiveCaption);
  SetTextColor(LiveTextColor());
  const auto n = static_cast<std::int32_t>(source_.log.Count());
  std::int32_t& mirrored = source_.mirroredLines;
  if (mirrored < n) {
    AppendLogLines(static_cast<std::size_t>(std::max(0, mirrored)), static_cast<std::size_t>(n));
    mirrored = n;
  } else if (n < mirrored) {
    // The log was started afresh (a new day) or reloaded: only the count shows it.
    Memo1->clear();
    AppendLogLines(0, static_cast<std::size_t>(n));
    mirrored = n;
  }
}

void TForm5::Button1Click() {
  Timer1->stop();
  ApplyRealTimeState();
  source_.mirroredLines = static_cast<std::int32_t>(source_.log.Count());
  Memo1->clear();
  AppendLogLines(0, static_cast<std::size_t>(source_.mirroredLines));
  Timer1->start();
}

void TForm5::Button2Click() {
  Timer1->stop();
  FileDialogOptions options;
  options.title = "Open";
  options.filter = kFilter;
  options.initialDir = source_.logDirectory;
  const std::vector<std::string> chosen = source_.dialogs.OpenFiles(options);
  // Cancelled: the view stays frozen with its caption until "Real Time Log".
  if (chosen.empty()) return;
  const std::string& path = chosen.front();
  std::string bytes;
  std::string error;
  if (!source_.files.ReadFile(path, kMaxLogFileBytes, bytes, error)) {
    // The view stays as it was, frozen as after a cancel.
    source_.dialogs.ShowMessage(SystemMessage("Cannot read the log file " + path + ": " + error));
    return;
  }
  Memo1->clear();
  QStringList lines;
  for (const std::string& line : SplitLogLines(bytes)) lines.append(Latin1(line));
  if (!lines.isEmpty()) Memo1->appendPlainText(lines.join('\n'));
  setWindowTitle(Latin1(kFileCaption + FileNameOf(path)));
}

}  // namespace caspira
