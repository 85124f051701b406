#include "platform/gui/file_chooser.h"

#include "platform/gui/settings_store.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace platform {
namespace {

FileChooserResponder& Responder() {
    static FileChooserResponder responder;
    return responder;
}

// The path with Windows separators read as separators.
QString Normalized(const QString& path) {
    return QDir::fromNativeSeparators(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
}

QString ExistingFolder(const QString& path) {
    if (path.isEmpty()) {
        return {};
    }
    const QFileInfo info(path);
    if (info.isDir()) {
        return info.absoluteFilePath();
    }
    const QFileInfo parent(info.absolutePath());
    if (path.contains(QLatin1Char('/')) && parent.isDir()) {
        return parent.absoluteFilePath();
    }
    return {};
}

// A name typed without an extension gets the default one; a file that exists as named is taken
// as it is, so files without an extension can still be chosen.
QString WithDefaultExtension(const QString& path, const QString& extension) {
    const QFileInfo info(path);
    if (extension.isEmpty() || !info.suffix().isEmpty() || info.exists()) {
        return path;
    }
    return path + QLatin1Char('.') + extension;
}

// Qt's file dialog keeps its folder history in a user-scope settings file of its own,
// "QtProject.conf", which it writes when it closes and no option turns off. Its user scope is
// pointed into the Kestrom store, so that nothing lands beside the user's other settings.
void KeepChooserStateInStore() {
    const QString store = ConfigHome() + QLatin1Char('/') + QLatin1String(CompanyKey);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, store);
}

} // namespace

QStringList ToNameFilters(const QString& filter) {
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        if (description.isEmpty()) {
            break; // "||" ends the list
        }
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (!pattern.trimmed().isEmpty()) {
                patterns.append(pattern.trimmed());
            }
        }
        // The chooser reads the patterns from the parentheses: show those of the second field.
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open > 0 && description.endsWith(QLatin1Char(')'))) {
            description = description.left(open).trimmed();
        }
        result.append(description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                      QLatin1Char(')'));
    }
    return result;
}

ChooserStart ResolveChooserStart(const FileChooserRequest& request) {
    ChooserStart start;
    const QString file = Normalized(request.initialFile);
    if (!file.isEmpty() && !file.endsWith(QLatin1Char('/'))) {
        start.fileName = file.mid(file.lastIndexOf(QLatin1Char('/')) + 1);
    }
    start.folder = ExistingFolder(file.contains(QLatin1Char('/')) ? file : QString());
    if (start.folder.isEmpty()) {
        start.folder = ExistingFolder(Normalized(request.initialFolder));
    }
    return start;
}

std::optional<QString> ChooseFile(QWidget* parent, const FileChooserRequest& request) {
    std::optional<QString> chosen;
    if (Responder()) {
        chosen = Responder()(request);
    } else {
        KeepChooserStateInStore();
        QFileDialog dialog(parent, request.title);
        dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        const bool mustExist = request.open || (request.flags & OfnFileMustExist) != 0;
        dialog.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        dialog.setNameFilters(ToNameFilters(request.filter));
        dialog.setDefaultSuffix(request.defaultExtension);
        const ChooserStart start = ResolveChooserStart(request);
        if (!start.folder.isEmpty()) {
            dialog.setDirectory(start.folder);
        }
        if (!start.fileName.isEmpty()) {
            dialog.selectFile(start.fileName);
        }
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            chosen = dialog.selectedFiles().front();
        }
    }
    if (!chosen || chosen->isEmpty()) {
        return std::nullopt;
    }
    return WithDefaultExtension(*chosen, request.defaultExtension);
}

void SetFileChooserResponder(FileChooserResponder responder) {
    Responder() = std::move(responder);
}

} // namespace platform
