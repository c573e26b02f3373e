#include "app/widgets.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <algorithm>

namespace caspira {

void SetColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Active, QPalette::WindowText, color);
  palette.setColor(QPalette::Inactive, QPalette::WindowText, color);
  widget->setPalette(palette);
}

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  up_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setAutoRepeat(true);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(b);
  }
  connect(up_, &QToolButton::clicked, this, [this] { step(true); });
  connect(down_, &QToolButton::clicked, this, [this] { step(false); });
}

void UpDown::setPosition(int position) {
  position_ = std::clamp(position, minimum_, std::max(minimum_, maximum_));
}

void UpDown::setMinimum(int minimum) {
  minimum_ = minimum;
  setPosition(position_);
}

void UpDown::setMaximum(int maximum) {
  maximum_ = maximum;
  setPosition(position_);
}

void UpDown::step(bool up) {
  setPosition(position_ + (up ? 1 : -1));
  emit clicked(up);
}

PageControl::PageControl(QWidget* parent) : QTabBar(parent) {
  setExpanding(false);
  setDrawBase(true);
  connect(this, &QTabBar::currentChanged, this, [this](int index) {
    if (changingFromCode_) return;
    wanted_ = index;
    emit pageChanged(index);
  });
}

void PageControl::addPage(const QString& name, const QString& caption) {
  changingFromCode_ = true;
  names_.push_back(name);
  addTab(caption);
  changingFromCode_ = false;
}

void PageControl::setPageCaption(int index, const QString& caption) {
  setTabText(index, caption);
}

void PageControl::setPageTabVisible(int index, bool visible) {
  changingFromCode_ = true;
  setTabVisible(index, visible);
  KeepCurrentOnVisibleTab();
  changingFromCode_ = false;
}

void PageControl::KeepCurrentOnVisibleTab() {
  // The page last chosen stays active whenever its tab is shown.
  if (wanted_ >= 0 && wanted_ < count() && isTabVisible(wanted_)) {
    setCurrentIndex(wanted_);
    return;
  }
  if (currentIndex() >= 0 && isTabVisible(currentIndex())) return;
  for (int i = 0; i < count(); ++i) {
    if (isTabVisible(i)) {
      setCurrentIndex(i);
      return;
    }
  }
}

void PageControl::paintEvent(QPaintEvent* event) {
  // With every tab hidden the strip shows nothing (the tab bar would draw a stale tab).
  if (activePageIndex() < 0) return;
  QTabBar::paintEvent(event);
}

int PageControl::activePageIndex() const {
  const int current = currentIndex();
  return current >= 0 && isTabVisible(current) ? current : -1;
}

void PageControl::setActivePageIndex(int index) {
  changingFromCode_ = true;
  wanted_ = index;
  setCurrentIndex(index);
  changingFromCode_ = false;
}

StatusBar::StatusBar(const std::vector<int>& widths, QWidget* parent) : QFrame(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 1, 0, 1);
  layout->setSpacing(2);
  for (int width : widths) {
    auto* panel = new QLabel(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setFixedWidth(width);
    panel->setTextFormat(Qt::PlainText);
    panel->setIndent(2);
    panel->setMargin(0);
    layout->addWidget(panel);
    panels_.push_back(panel);
  }
  layout->addStretch(1);
}

QString StatusBar::panelText(int index) const {
  return panels_.at(static_cast<std::size_t>(index))->text();
}

void StatusBar::setPanelText(int index, const QString& text) {
  panels_.at(static_cast<std::size_t>(index))->setText(text);
}

int StatusBar::panelWidth(int index) const {
  return panels_.at(static_cast<std::size_t>(index))->maximumWidth();
}

void StatusBar::setPanelWidth(int index, int width) {
  panels_.at(static_cast<std::size_t>(index))->setFixedWidth(std::max(0, width));
}

void StatusBar::mouseDoubleClickEvent(QMouseEvent* event) {
  emit doubleClicked();
  QFrame::mouseDoubleClickEvent(event);
}

}  // namespace caspira
