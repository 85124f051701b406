#include "gui_test_support.h"

#include <QApplication>

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "platform_gui_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) {
        new QApplication(argc, argv); // lives for the whole test process
    }
}

PrivateConfigHome::PrivateConfigHome()
    : previous_(qgetenv("XDG_CONFIG_HOME")),
      hadPrevious_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
}

PrivateConfigHome::~PrivateConfigHome() {
    if (hadPrevious_) {
        qputenv("XDG_CONFIG_HOME", previous_);
    } else {
        qunsetenv("XDG_CONFIG_HOME");
    }
}
