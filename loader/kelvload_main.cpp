// kelvload: downloads KFW firmware files to devices on the Trakbus and finds the devices on it.

#include "loader/kelvload_app.h"
#include "loader/kelvload_frame.h"
#include "platform/gui/termination_signals.h"
#include "serial/port_survey.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    CKelvloadApp app;
    if (!app.InitInstance(qt.arguments().mid(1))) {
        return 1;
    }
    platform::CloseOnTerminationSignals(app.GetMainFrame());
    const int result = qt.exec();
    serial::PortSurvey::WaitForWorkers(std::chrono::seconds(1)); // a port survey under way
    return result;
}
