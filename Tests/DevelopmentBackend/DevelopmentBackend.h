#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <mutex>

namespace Pellwick::Test {

class TestBackend;

/// The test backend as a local stand-in for the real one, for running the application on one's
/// own machine: bound to 127.0.0.1, its state kept in a folder so a restart keeps accounts,
/// libraries, restore requests and stored objects, readable by its owner only (passwords only as
/// salted hashes). The state is saved as one JSON file
/// ("state.json", written atomically) after every request that may change it and before that
/// request is answered; objects are files under "objects". New accounts are verified at once
/// (no e-mail is sent) and restore requests become ready after `restoreReadyDelay`, which
/// their preparation estimate announces.
/// Main thread only, apart from the saves, which run on the server's threads.
class DevelopmentBackend : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString stateDirectory;
        /// 0 picks a free port.
        quint16 port = 0;
        std::chrono::milliseconds restoreReadyDelay = std::chrono::seconds(3);
        /// When set, a file that gets one line per request to the backend's endpoints, in the
        /// order they were applied: the method, the path and "token=" followed by the first 12
        /// hexadecimal digits of the SHA-256 of the request's bearer token ("-" without one).
        /// The token itself is never written.
        QString requestLog;
        /// The PBKDF2-HMAC-SHA256 iterations of the hashes of passwords set from now on; a kept
        /// hash keeps its own.
        int passwordHashIterations = 600'000;
    };

    /// The fingerprint a request log shows for `token`.
    static QString tokenFingerprint(const QByteArray &token);

    /// Opens the state folder (made when missing; it, "objects" and their files made its owner's
    /// only) and starts serving. No value, with a message naming the file, when the state cannot
    /// be read: the folder's data is never replaced by a fresh state.
    static std::unique_ptr<DevelopmentBackend> open(const Options &options, QString *errorMessage);
    ~DevelopmentBackend() override;

    QUrl baseURL() const;

    /// "state.json" in `stateDirectory`.
    static QString stateFile(const QString &stateDirectory);
    /// The default state folder: "pellwick-dev-backend" in the user's XDG state folder.
    static QString defaultStateDirectory();

Q_SIGNALS:
    /// A line for the person running the program.
    void notice(const QString &line);

private:
    DevelopmentBackend(const Options &options, std::unique_ptr<TestBackend> backend);
    /// Runs on a server thread once a request was applied.
    void requestApplied(const QByteArray &method, const QByteArray &path);
    void verifyNewAccounts();
    void advanceRestoreRequests();
    void save();
    void logRequests();

    Options m_options;
    std::unique_ptr<TestBackend> m_backend;
    std::mutex m_saveMutex;
    std::mutex m_logMutex;
};

} // namespace Pellwick::Test
