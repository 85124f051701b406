// kelvmon: the Trakbus monitor.

#include "monitor/kelvmon_app.h"
#include "platform/gui/termination_signals.h"
#include "serial/port_survey.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    CKelvmonApp app;
    if (!app.InitInstance(QApplication::arguments().mid(1)))
        return 1;
    platform::CloseOnTerminationSignals(app.Sdi().GetMainFrame());
    const int result = QApplication::exec();
    serial::PortSurvey::WaitForWorkers(std::chrono::seconds(1)); // a port survey under way
    return result;
}
