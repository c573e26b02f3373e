// TForm5: the event log window.
#pragma once

#include <QDialog>

namespace caspira {

class TForm5 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm5(QWidget* parent = nullptr);
};

}  // namespace caspira
