#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class DesktopInstallTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void installGivesBinaryIconAndDesktopEntry()
    {
        QTemporaryDir prefix;
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(u"" PELLWICK_CMAKE_COMMAND ""_s,
                      {u"--install"_s, u"" PELLWICK_BUILD_DIR ""_s, u"--prefix"_s, prefix.path()});
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());

        QVERIFY(QFileInfo(prefix.filePath(u"bin/pellwick"_s)).isExecutable());
        const QImage icon(
            prefix.filePath(u"share/icons/hicolor/512x512/apps/example.pellwick.Pellwick.png"_s));
        QCOMPARE(icon.size(), QSize(512, 512));
        QVERIFY(QFileInfo::exists(prefix.filePath(u"share/pellwick/PellwickIcon.png"_s)));
        const QString entry
            = prefix.filePath(u"share/applications/example.pellwick.Pellwick.desktop"_s);
        QVERIFY(QFileInfo::exists(entry));

        const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed");
        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start(validator, {entry});
        QVERIFY(validate.waitForFinished(30000));
        const QByteArray output = validate.readAll();
        QVERIFY2(validate.exitCode() == 0 && output.trimmed().isEmpty(), output.constData());
    }
};

QTEST_MAIN(DesktopInstallTests)
#include "DesktopInstallTests.moc"
