#include "firmware/goto_dialog.h"

namespace caspira {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setObjectName("Form3");
  setWindowTitle("Go To");
}

}  // namespace caspira
