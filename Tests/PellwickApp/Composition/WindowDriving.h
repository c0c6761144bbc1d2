#pragma once

#include "../Views/PageInspection.h"

#include <PellwickApp/Views/Library/LocalLibraryFinderModel.h>
#include <PellwickCore/Ingest/ContentHashing.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>

#include <Support/DngWriter.h>
#include <Support/TestFiles.h>

namespace Pellwick::Test {

/// The SHA-256 of a file's bytes.
inline QString sha256(const QString &path)
{
    const Result<QString> hash = SHA256ContentHasher().contentHash(path);
    return hash ? *hash : QString();
}

/// Hash and modification time of every file below `root`, by relative path (hidden ones too).
inline QMap<QString, QString> snapshot(const QString &root)
{
    QMap<QString, QString> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path),
                     sha256(path) + u' '
                         + QString::number(QFileInfo(path).lastModified().toMSecsSinceEpoch()));
    }
    return files;
}

/// A card as a camera writes it: `dngs` RAW originals in DCIM/`folderName` (with `sharedPair`,
/// also a different RAW IMG_0007.CR2 beside IMG_0007.DNG sharing its sidecar), sidecars for
/// the first `sidecars` of them, JPEGs and a hidden folder.
inline void writeCard(const QString &root,
                      const QString &folderName,
                      int dngs,
                      int sidecars,
                      bool sharedPair,
                      quint32 seed)
{
    const QString folder = root + QStringLiteral("/DCIM/") + folderName + u'/';
    const auto dng = [seed](quint32 n) {
        return DngOptions{
            .width = 16, .height = 16, .noiseAmplitude = 60, .noiseSeed = seed * 100 + n};
    };
    for (int i = 1; i <= dngs; ++i) {
        const QString name = QStringLiteral("IMG_%1").arg(i, 4, 10, QLatin1Char('0'));
        DngWriter::write(folder + name + QStringLiteral(".DNG"), dng(quint32(i)));
        if (i <= sidecars)
            writeFile(folder + name + QStringLiteral(".xmp"),
                      "<x:xmpmeta>" + QByteArray::number(seed * 100 + i) + "</x:xmpmeta>\n");
    }
    if (sharedPair)
        DngWriter::write(folder + QStringLiteral("IMG_0007.CR2"), dng(99));
    for (int i = 1; i <= 3; ++i)
        writeFile(folder + QStringLiteral("DSC_%1.JPG").arg(i),
                  patternBytes(1024, seed + quint32(i)));
    writeFile(root + QStringLiteral("/.Trashes/IMG_0001.DNG"), patternBytes(64, seed));
}

/// The visible widget named `name` of any shown window, its dialogs included.
template<class T = QWidget>
T *shown(const QString &name)
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        if (auto *self = qobject_cast<T *>(top); self && top->objectName() == name)
            return self;
        for (T *widget : top->findChildren<T *>(name)) {
            if (widget->isVisible())
                return widget;
        }
    }
    return nullptr;
}

/// Every text the shown windows and dialogs show, joined by "|".
inline QString shownTextsEverywhere()
{
    QStringList texts;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        texts += shownTexts(*top);
        for (auto *edit : top->findChildren<QPlainTextEdit *>()) {
            if (edit->isVisible())
                texts.append(edit->toPlainText());
        }
    }
    return texts.join(u'|');
}

inline bool showing(const QString &text)
{
    return shownTextsEverywhere().contains(text);
}

/// The rows below `parent` of the model showing `status`, at any depth.
inline int
rowsWithStatus(const QAbstractItemModel &model, const QString &status, const QModelIndex &parent)
{
    int count = 0;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        count += int(index.data(LocalLibraryFinderModel::ImportStatusTextsRole)
                         .toStringList()
                         .contains(status))
                 + rowsWithStatus(model, status, index);
    }
    return count;
}

/// The visible window-modal dialog, if any.
inline QDialog *openDialog()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        for (QDialog *dialog : top->findChildren<QDialog *>()) {
            if (dialog->isVisible())
                return dialog;
        }
    }
    return nullptr;
}

} // namespace Pellwick::Test
