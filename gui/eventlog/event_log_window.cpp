#include "eventlog/event_log_window.h"

namespace caspira {

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
  setObjectName("Form5");
  setWindowTitle("Event Log");
}

}  // namespace caspira
