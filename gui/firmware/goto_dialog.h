// TForm3: the go-to dialog that turns a typed address into a sector number.
#pragma once

#include <QDialog>

namespace caspira {

class TForm3 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);
};

}  // namespace caspira
