// Small widgets the windows need that Qt does not have in this shape: an up-down
// selector, a tab strip used as a device selector, and a status bar of fixed panels.
#pragma once

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QTabBar>
#include <QToolButton>
#include <QWidget>
#include <vector>

namespace caspira {

// The text colour of an enabled widget; a disabled one stays greyed.
void SetColor(QWidget* widget, const QColor& color);

// Two arrow buttons that step a position between a minimum and a maximum.
class UpDown : public QWidget {
  Q_OBJECT
 public:
  explicit UpDown(QWidget* parent = nullptr);

  int position() const { return position_; }
  int minimum() const { return minimum_; }
  int maximum() const { return maximum_; }
  void setPosition(int position);
  void setMinimum(int minimum);
  void setMaximum(int maximum);

  // Steps as a click on an arrow does: up raises the position, down lowers it.
  void step(bool up);

 signals:
  // The user stepped the selector with either arrow (the position is already updated).
  void clicked(bool up);

 private:
  QToolButton* up_;
  QToolButton* down_;
  int position_ = 0;
  int minimum_ = 0;
  int maximum_ = 0;
};

// A tab strip whose tabs stand for device pages. Tabs can be hidden; the active page is
// the current tab while it is visible, none otherwise. Changes made from code never
// count as the user's change.
class PageControl : public QTabBar {
  Q_OBJECT
 public:
  explicit PageControl(QWidget* parent = nullptr);

  void addPage(const QString& name, const QString& caption);
  int pageCount() const { return count(); }
  QString pageName(int index) const { return names_.at(static_cast<std::size_t>(index)); }

  void setPageCaption(int index, const QString& caption);
  void setPageTabVisible(int index, bool visible);
  bool pageTabVisible(int index) const { return isTabVisible(index); }

  // Index of the active page, or -1 when no tab is visible.
  int activePageIndex() const;
  void setActivePageIndex(int index);

 signals:
  // The user chose another tab.
  void pageChanged(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void KeepCurrentOnVisibleTab();

  std::vector<QString> names_;
  int wanted_ = 0;  // the page last chosen by the user or by code
  bool changingFromCode_ = false;
};

// A status bar of fixed-width text panels.
class StatusBar : public QFrame {
  Q_OBJECT
 public:
  StatusBar(const std::vector<int>& widths, QWidget* parent = nullptr);

  int panelCount() const { return static_cast<int>(panels_.size()); }
  QString panelText(int index) const;
  void setPanelText(int index, const QString& text);
  int panelWidth(int index) const;
  void setPanelWidth(int index, int width);

 signals:
  void doubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::vector<QLabel*> panels_;
};

}  // namespace caspira
