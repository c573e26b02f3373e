#include "imagebuilder/make_bin_dialog.h"

namespace caspira {

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  setObjectName("Form2");
  setWindowTitle("Make Bin");
}

}  // namespace caspira
