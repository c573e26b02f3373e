// The application object keeps the message loop going when a handler throws.
#include <gtest/gtest.h>

#include <QTimer>
#include <stdexcept>

#include "app/program.h"

namespace caspira {
namespace {

TEST(ApplicationTest, AnExceptionFromAHandlerIsShownAndTheLoopGoesOn) {
  int argc = 1;
  char name[] = "application_tests";
  char* argv[] = {name, nullptr};
  CaspiraApplication app(argc, argv);
  std::vector<std::string> shown;
  app.SetExceptionDisplay([&](const std::string& text) { shown.push_back(text); });

  QTimer::singleShot(0, &app, [] { throw std::runtime_error("Invalid Drive number"); });
  QTimer::singleShot(1, &app, [] { throw 42; });
  bool laterHandlerRan = false;
  QTimer::singleShot(2, &app, [&] {
    laterHandlerRan = true;
    QCoreApplication::quit();
  });
  EXPECT_EQ(app.exec(), 0);
  EXPECT_TRUE(laterHandlerRan);
  EXPECT_EQ(shown, (std::vector<std::string>{"Invalid Drive number", ""}));
}

}  // namespace
}  // namespace caspira
