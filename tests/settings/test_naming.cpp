#include "settings/naming.h"
#include "settings/platform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

void touch(const QString& path, const QByteArray& content = QByteArray())
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestNaming : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Sonvira desktop")); }

    // A result name the file system could not create is refused before
    // anything is uploaded (and charged).
    void destinationNameTooLongIsRefused()
    {
        const QString folder = QDir::tempPath() + QLatin1Char('/');
        QCOMPARE(naming::destinationRefusal(folder + QString(252, QLatin1Char('a')) + QStringLiteral(".wav")),
                 QByteArray("File name too long"));
        QCOMPARE(naming::destinationRefusal(folder + QString(120, QChar(0xe4)) + QStringLiteral(".wav")),
                 QByteArray());
    }

    void expandNameTemplate_data()
    {
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<QString>("preset");
        QTest::addColumn<QString>("expected");
        QTest::newRow("preset with slash") << "-{presetName}" << "Voice/Podcast" << "-Voice_Podcast";
        QTest::newRow("any letter case") << "{PRESETNAME}+{PresetName}" << "P" << "P+P";
        QTest::newRow("no placeholders") << "a<b>c:d\"e/f\\g|h?i*j" << "x" << "a_b_c_d_e_f_g_h_i_j";
        QTest::newRow("other characters stay") << " x.\t. " << "" << " x.\t. ";
        QTest::newRow("preset read literally") << "{presetName}" << "a$1\\1(.*)" << "a$1_1(._)";
        QTest::newRow("repeated") << "{presetName}{presetName}" << "ab" << "abab";
    }

    void expandNameTemplate()
    {
        QFETCH(QString, nameTemplate);
        QFETCH(QString, preset);
        QFETCH(QString, expected);
        QCOMPARE(naming::expandNameTemplate(nameTemplate, preset), expected);
    }

    void expandNameTemplateDateAndTime()
    {
        const QString before = QDateTime::currentDateTime().toString(QStringLiteral("MM-dd-yy HHmmss"));
        const QString text = naming::expandNameTemplate(QStringLiteral("{Date} {TIME}|{date}"), QString());
        const QString after = QDateTime::currentDateTime().toString(QStringLiteral("MM-dd-yy HHmmss"));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d-\\d\\d \\d{6}_\\d\\d-\\d\\d-\\d\\d$")).match(text).hasMatch(),
                 qPrintable(text));
        const QString stamp = text.left(15);
        QVERIFY2(stamp == before || stamp == after, qPrintable(text));
    }

    void suffixesAndExtensions()
    {
        QCOMPARE(naming::insertSuffix(QStringLiteral("C:/in/take.final.wav"), QStringLiteral("-x")),
                 QStringLiteral("take.final-x.wav"));
        QCOMPARE(naming::insertSuffix(QStringLiteral("/in/take.wav"), QStringLiteral("-x")), QStringLiteral("take-x.wav"));
        QCOMPARE(naming::insertSuffix(QStringLiteral("name"), QStringLiteral("-x")), QStringLiteral("name-x."));
        QCOMPARE(naming::pathWithSuffix(QStringLiteral("/in/sub/take.final.wav"), QStringLiteral("-nr")),
                 QStringLiteral("/in/sub/take.final-nr.wav"));
        QCOMPARE(naming::fileNameOf(QStringLiteral("/in/sub/take.final.wav")), QStringLiteral("take.final.wav"));
        QCOMPARE(naming::withExtension(QStringLiteral("/in/sub/take.final.wav"), QStringLiteral("tmp")),
                 QDir::toNativeSeparators(QStringLiteral("/in/sub/take.final.tmp")));
        QCOMPARE(naming::expandNameTemplateInPath(QStringLiteral("/in/sub/a{presetName}.wav"), QStringLiteral("V/P")),
                 QStringLiteral("/in/sub/aV_P.wav"));
    }

    void expandExecutableFolder()
    {
        const QString folder = QCoreApplication::applicationDirPath();
        QCOMPARE(naming::expandExecutableFolder(QStringLiteral("{ExecutableFolder}/deepfilternet/{executablefolder}")),
                 folder + QStringLiteral("/deepfilternet/") + folder);
        QVERIFY(!folder.endsWith(QLatin1Char('/')));
        QCOMPARE(naming::expandExecutableFolder(QStringLiteral("/plain/path")), QStringLiteral("/plain/path"));
    }

    // The work folder is the user's own: in the runtime folder when there is
    // one, else named after the user in the shared temporary folder, never
    // a link or someone else's folder planted there.
    void folders()
    {
        QVERIFY(naming::appConfigFolder().endsWith(QStringLiteral("Sonvira desktop")));
        QTemporaryDir tmp;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
#ifdef Q_OS_UNIX
        const QString work = naming::tempWorkFolder();
        QCOMPARE(work, tmp.path() + QStringLiteral("/sonvira-") + QString::number(::getuid()));
        QCOMPARE(QFile::permissions(work) & 0x0077, QFileDevice::Permissions());
        QCOMPARE(naming::tempWorkFolder(), work);
        QVERIFY(QDir(work).removeRecursively());
        QVERIFY(QFile::link(tmp.path(), work));
        QCOMPARE(naming::tempWorkFolder(), QString());
        QVERIFY(QFile::remove(work));
        if (::getuid() == 0) {
            QVERIFY(QDir().mkdir(work));
            QCOMPARE(::chown(QFile::encodeName(work).constData(), 65534, 65534), 0);
            QCOMPARE(naming::tempWorkFolder(), QString());
            QVERIFY(QDir().rmdir(work));
        }
        touch(work);
        QCOMPARE(naming::tempWorkFolder(), QString());

        QTemporaryDir runtimeFolder;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder.path()));
        QCOMPARE(naming::tempWorkFolder(), runtimeFolder.path() + QStringLiteral("/sonvira"));
#else
        const QString work = naming::tempWorkFolder();
        QCOMPARE(work, QDir::toNativeSeparators(tmp.path() + QStringLiteral("/sonvira")));
#endif
        qputenv("XDG_RUNTIME_DIR", runtime);
        qunsetenv("TMPDIR");
    }

    void isSamePath()
    {
        QVERIFY(naming::isSamePath(QStringLiteral("/Music/a.wav"), QStringLiteral("/Music/a.wav")));
        QVERIFY(!naming::isSamePath(QStringLiteral("/Music"), QStringLiteral("/Music/")));
        QVERIFY(!naming::isSamePath(QStringLiteral("/a/../b"), QStringLiteral("/b")));
        const bool caseBlind = platform::pathCaseSensitivity() == Qt::CaseInsensitive;
        QCOMPARE(naming::isSamePath(QStringLiteral("/Music/"), QStringLiteral("/music/")), caseBlind);
        QCOMPARE(platform::pathKey(QStringLiteral("/Music/")) == platform::pathKey(QStringLiteral("/music/")), caseBlind);
#ifdef Q_OS_WIN
        QVERIFY(naming::isSamePath(QStringLiteral("C:/Music/"), QStringLiteral("c:\\music\\")));
#endif
    }

    void uniqueFileNameCounts()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("song.wav"));
        QCOMPARE(naming::uniqueFileName(song, false), QDir::toNativeSeparators(song));
        QVERIFY(!QFile::exists(song));
        touch(song, "original");
        QCOMPARE(naming::uniqueFileName(song, false), QDir::toNativeSeparators(dir.filePath(QStringLiteral("song (1).wav"))));
        touch(dir.filePath(QStringLiteral("song (1).wav")));
        QCOMPARE(naming::uniqueFileName(song, false), QDir::toNativeSeparators(dir.filePath(QStringLiteral("song (2).wav"))));
        QCOMPARE(contentOf(song), QByteArray("original"));

        const QString name = dir.filePath(QStringLiteral("name"));
        touch(name);
        QCOMPARE(naming::uniqueFileName(name, false), QDir::toNativeSeparators(dir.filePath(QStringLiteral("name (1)."))));
    }

    void uniqueFileNameReserves()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.wav.temp"));
        const QString first = naming::uniqueFileName(path, true);
        QCOMPARE(first, QDir::toNativeSeparators(path));
        QVERIFY(QFileInfo(first).isFile());
        QCOMPARE(QFileInfo(first).size(), 0);
        const QString second = naming::uniqueFileName(path, true);
        QCOMPARE(second, QDir::toNativeSeparators(dir.filePath(QStringLiteral("out.wav (1).temp"))));
        QVERIFY(QFileInfo(second).isFile());
    }

    void uniqueFileNameDanglingLinkIsTaken()
    {
#ifdef Q_OS_UNIX
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("a.wav"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere/target")), link));
        QCOMPARE(naming::uniqueFileName(link, true), QDir::toNativeSeparators(dir.filePath(QStringLiteral("a (1).wav"))));
#else
        QSKIP("symbolic links need privileges here");
#endif
    }

    void uniqueFileNameAllTaken()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("full.wav"));
        touch(path, "keep");
        for (int i = 1; i <= 9999; ++i)
            touch(dir.filePath(QStringLiteral("full (%1).wav").arg(i)), "keep");
        QCOMPARE(naming::uniqueFileName(path, true), QString());
        QCOMPARE(naming::uniqueFileName(path, false), QString());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 10000);
        QCOMPARE(contentOf(path), QByteArray("keep"));
        QCOMPARE(contentOf(dir.filePath(QStringLiteral("full (9999).wav"))), QByteArray("keep"));
    }
};

QTEST_GUILESS_MAIN(TestNaming)
#include "test_naming.moc"
