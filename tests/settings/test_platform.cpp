#include "settings/platform.h"

#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void executableNames()
    {
#ifdef Q_OS_WIN
        QCOMPARE(platform::executableName(QStringLiteral("ffmpeg")), QStringLiteral("ffmpeg.exe"));
#else
        QCOMPARE(platform::executableName(QStringLiteral("ffmpeg")), QStringLiteral("ffmpeg"));
#endif
    }

    void singleInstanceGuard()
    {
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const QString key = QStringLiteral("SonviraGuardTest");
        {
            platform::SingleInstanceGuard first(key);
            QVERIFY(first.tryAcquire());
            QVERIFY(first.tryAcquire());
            platform::SingleInstanceGuard second(key);
            QVERIFY(!second.tryAcquire());
            platform::SingleInstanceGuard other(QStringLiteral("SonviraGuardTestOther"));
            QVERIFY(other.tryAcquire());
        }
        platform::SingleInstanceGuard again(key);
        QVERIFY(again.tryAcquire());
    }

    void terminationSignalEndsEventLoop()
    {
#ifdef Q_OS_UNIX
        platform::quitOnTerminationSignals();
        QTimer::singleShot(0, [] { ::raise(SIGTERM); });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(10000);
        QCOMPARE(QCoreApplication::exec(), 0);
#else
        QSKIP("POSIX signals only");
#endif
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
