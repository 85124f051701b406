#include "monitor/capture_file.h"

#include <QFile>
#include <cerrno>
#include <cstring>

CCaptureFile::~CCaptureFile() {
    Close();
}

bool CCaptureFile::Open(const QString& path) {
    Close();
    m_error.clear();
    const QByteArray name = QFile::encodeName(path);
    // Binary mode: the line ends are written as CR LF by WriteLine.
    m_file = std::fopen(name.constData(), "wb");
    if (m_file == nullptr) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

bool CCaptureFile::WriteLine(std::string_view text) {
    if (m_file == nullptr)
        return false;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size() ||
        std::fwrite("\r\n", 1, 2, m_file) != 2)
        return Fail(errno);
    return true;
}

bool CCaptureFile::Flush() {
    if (m_file == nullptr)
        return false;
    errno = 0;
    if (std::fflush(m_file) != 0)
        return Fail(errno);
    return true;
}

bool CCaptureFile::Close() {
    if (m_file == nullptr)
        return true;
    std::FILE* file = m_file;
    m_file = nullptr;
    errno = 0;
    if (std::fclose(file) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno != 0 ? errno : EIO));
        return false;
    }
    return true;
}

bool CCaptureFile::Fail(int error) {
    m_error = QString::fromLocal8Bit(std::strerror(error != 0 ? error : EIO));
    // What is still buffered cannot be written either; close without another report.
    std::FILE* file = m_file;
    m_file = nullptr;
    std::fclose(file);
    return false;
}
