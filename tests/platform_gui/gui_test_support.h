#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Makes the one QApplication of the test process (offscreen when run by CTest).
void EnsureApplication();

// Points XDG_CONFIG_HOME at a fresh temporary folder for the lifetime of the object.
class PrivateConfigHome {
public:
    PrivateConfigHome();
    ~PrivateConfigHome();
    PrivateConfigHome(const PrivateConfigHome&) = delete;
    PrivateConfigHome& operator=(const PrivateConfigHome&) = delete;

    QString Path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_;
};
