#pragma once

#include <PellwickCore/Restore/ManagedFolder.h>
#include <PellwickCore/Support/Error.h>

#include <QList>
#include <QString>

namespace Pellwick {

/// The words for a failure of the disk or of a folder, as a photographer reads them. Every page
/// that names a folder that said no builds its sentence from these. Pure functions, callable from
/// any thread.
class DiskFeedback
{
public:
    DiskFeedback() = delete;

    /// The error itself when it is a file-system failure, or else the nearest file-system failure
    /// it was mapped from (a copy that failed on a full disk and became a failed verification);
    /// null when it has none.
    static const FileSystemError *fileSystemCause(const Error &error);

    /// Whether `code` (an errno value) says the disk or the user's quota is full.
    static bool isNoSpace(int code);

    /// Whether `failure` is a full disk that still has bytes free but no free file entries.
    static bool isOutOfFileEntries(const FileSystemError &failure);

    /// The system's reason in a few lower-case words: "no space left", "read-only",
    /// "permission denied", "not permitted", or the system's own text for any other code.
    static QString reason(int code);
    /// `reason` of the failure's code, but "no free file entries left (<free> are free)" for a disk
    /// out of file entries.
    static QString reason(const FileSystemError &failure);

    /// "<folder> can hold no more files: its file system has no free file entries left (<free>
    /// are free)", the amount as `LibraryPresentation::byteText` writes it.
    static QString holdsNoMoreFiles(const QString &folder, qint64 freeBytes);

    /// The first sentence naming `folder` and what it said: `holdsNoMoreFiles` for a disk out of
    /// file entries, "No space left in <folder>." for a full disk, "<folder> cannot be written
    /// (<reason>)." for any other code.
    static QString folderFailure(const QString &folder, const FileSystemError &failure);

    /// `folderFailure` followed by the advice for it: "Remove files there or choose another
    /// folder, then <again>." for a disk out of file entries, "Free space or choose another
    /// folder, then <again>." for a full disk, "Choose another folder, then <again>." for any
    /// other code. For a folder the user chose and can change (a restore destination, a new
    /// Ingest Cache).
    static QString chosenFolderFailure(const QString &folder,
                                       const FileSystemError &failure,
                                       const QString &again = QStringLiteral("retry"));
    /// `folderFailure` followed by the advice for a folder Pellwick keeps for itself and the user
    /// cannot swap for another (its restore state): "Remove files there, then retry." for a disk
    /// out of file entries, "Free space, then retry." for a full disk, "Make it writable, then
    /// retry." for any other code.
    static QString ownFolderFailure(const QString &folder, const FileSystemError &failure);

    /// "<folder> needs <needed><shares>; <available> available.", the amounts as
    /// `LibraryPresentation::byteText` writes them; `shares`, when given, tells what the need is
    /// made of, e.g. " (… for …, … for …)".
    static QString shortOfSpace(const QString &folder,
                                qint64 neededBytes,
                                qint64 availableBytes,
                                const QString &shares = {});
    /// `shortOfSpace` followed by the advice `chosenFolderFailure` gives for a full disk.
    static QString chosenFolderShortOfSpace(const QString &folder,
                                            qint64 neededBytes,
                                            qint64 availableBytes,
                                            const QString &shares = {},
                                            const QString &again = QStringLiteral("retry"));
    /// `shortOfSpace` followed by the advice `ownFolderFailure` gives for a full disk.
    static QString
    ownFolderShortOfSpace(const QString &folder, qint64 neededBytes, qint64 availableBytes);
    /// "<folder> needs <needed> new files; its file system has free file entries for
    /// <available>." followed by the advice `chosenFolderFailure` (for a `chosenFolder`) or
    /// `ownFolderFailure` gives for a disk out of them.
    static QString shortOfFileEntries(const QString &folder,
                                      qint64 neededEntries,
                                      qint64 availableEntries,
                                      bool chosenFolder);

    /// The name of a folder Pellwick manages, as it stands inside a sentence: "the Ingest
    /// Cache", "the old Ingest Cache", "the Staging Area", "the Restore Transfer state folder",
    /// "the Local Library Cache".
    static QString managedFolderName(ManagedFolder folder);

    /// A folder Pellwick writes its own files into that a check found unable to take a file, and
    /// why (`fileSystemCause` of the error, EIO at the path when it has none).
    struct UnwritableDataFolder
    {
        ManagedFolder folder;
        QString path;
        Error error;
    };

    /// The folders of one check, each named once by its name and path: the folders that failed
    /// alike (the same reason; a disk out of file entries is its own) share one sentence,
    /// `folderFailure` of their names listed ("A, B and C"), capitalised, followed by the advice
    /// of `ownFolderFailure` once, ending "then choose Refresh Library." ("Make them writable"
    /// for more than one). Empty for none.
    static QString dataFolderFailures(const QList<UnwritableDataFolder> &folders);
    /// The restore state folder at `path` as sentences about its disk name it: "Pellwick's
    /// restore state folder (<path>)".
    static QString restoreStateFolderName(const QString &path);
};

} // namespace Pellwick
