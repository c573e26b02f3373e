// TForm2: the Make Bin dialog that builds firmware image files.
#pragma once

#include <QDialog>

namespace caspira {

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);
};

}  // namespace caspira
