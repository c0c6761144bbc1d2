#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace Pellwick::Test {

/// The `pellwick-dev-backend` program, started over a state folder; ended by closing its
/// standard input or by its process id, and always by its process id when destroyed.
class DevelopmentBackendProcess
{
public:
    DevelopmentBackendProcess(const QString &program,
                              const QString &stateDirectory,
                              const QStringList &extra = {})
    {
        m_process.setProgram(program);
        m_process.setArguments(QStringList{QStringLiteral("--state"), stateDirectory} + extra);
        m_process.start();
    }

    ~DevelopmentBackendProcess()
    {
        if (m_process.state() != QProcess::NotRunning)
            kill();
    }

    DevelopmentBackendProcess(const DevelopmentBackendProcess &) = delete;
    DevelopmentBackendProcess &operator=(const DevelopmentBackendProcess &) = delete;

    /// The first line (the base URL), or empty when the program ended first.
    QString firstLine()
    {
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10'000))
                return {};
        }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

    /// Closes standard input and waits for the end; the exit code, or -1 when it did not end.
    int closeInputAndWait()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10'000))
            return -1;
        return m_process.exitCode();
    }

    void kill()
    {
        m_process.kill(); // SIGKILL to its process id
        m_process.waitForFinished();
    }

    QString output()
    {
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_output;
    }

    QString errorOutput() { return QString::fromUtf8(m_process.readAllStandardError()); }

    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QString m_output;
};

} // namespace Pellwick::Test
