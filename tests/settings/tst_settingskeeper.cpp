// settings.xml kept up to date while the client runs: a change reaches the
// file within a second in the text save() writes, an unchanged copy is not
// written again, the last copy is written before the keeper goes, and a
// requested reset leaves the file empty as at exit.
#include "settings/settings.h"
#include "settings/settingskeeper.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

ScanPath watchedFolder()
{
    ScanPath folder;
    folder.path = QStringLiteral("/watched");
    folder.preset = "1: Speech -16 LUFS";
    return folder;
}

} // namespace

class TestSettingsKeeper : public QObject {
    Q_OBJECT

private slots:
    void changesReachTheFileAndNothingElse()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config/settings.xml"));
        Settings settings;
        settings.wUsername = "me@example.com";
        settings.addScanPath(watchedFolder());
        int copies = 0;
        {
            SettingsKeeper keeper(settings, path, [&copies] { ++copies; });
            keeper.start();
            // The first copy: the file does not exist yet, so it is written
            // (its folder made).
            QTRY_COMPARE_WITH_TIMEOUT(contentOf(path), settings.toXml(), 2000);
            QCOMPARE(keeper.writes(), 1);

            // A record of a seen file, as the folder scanner makes one.
            settings.scanPathRecords().first().scannedFiles.append({QStringLiteral("/watched/a.wav"), 5, "abc"});
            QTRY_VERIFY_WITH_TIMEOUT(contentOf(path).contains("/watched/a.wav"), 2000);
            QCOMPARE(contentOf(path), settings.toXml());
            QCOMPARE(keeper.writes(), 2);

            // Copies of unchanged settings are not written.
            const int before = copies;
            QTRY_VERIFY_WITH_TIMEOUT(copies >= before + 3, 5000);
            QCOMPARE(keeper.writes(), 2);

            settings.hideWhenClosed = true;
            keeper.saveNow();
            QCOMPARE(contentOf(path), settings.toXml());
            settings.wUsername = "other@example.com";
            keeper.saveNow();
        }
        QVERIFY(contentOf(path).contains("other@example.com"));
        // The same text a save at exit writes.
        const QString saved = dir.filePath(QStringLiteral("saved.xml"));
        QVERIFY(settings.save(saved, true));
        QCOMPARE(contentOf(path), contentOf(saved));
    }

    void unchangedFileOnDiskIsLeftAlone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.xml"));
        Settings settings;
        settings.addScanPath(watchedFolder());
        QVERIFY(settings.save(path, true));
        SettingsKeeper keeper(settings, path);
        keeper.saveNow();
        keeper.saveNow();
        QCOMPARE(keeper.writes(), 0);
    }

    void resetLeavesTheFileEmpty()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.xml"));
        Settings settings;
        QVERIFY(settings.save(path, true));
        settings.resetOnRestart = true;
        SettingsKeeper keeper(settings, path);
        keeper.saveNow();
        QVERIFY(QFile::exists(path));
        QCOMPARE(contentOf(path), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestSettingsKeeper)
#include "tst_settingskeeper.moc"
