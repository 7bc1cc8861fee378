#pragma once

// One QApplication for the whole test program, on the offscreen platform
// unless the environment asks for another.

#include <QApplication>
#include <QByteArray>

namespace velmora::app::test {

inline QApplication& qtApp() {
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    static int argc = 1;
    static char name[] = "test_app_shell";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

}  // namespace velmora::app::test
