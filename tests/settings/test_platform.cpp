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

    // One client per configuration folder, whatever the runtime folder of
    // the environment it was started from (su, sudo -u and cron start
    // programs without one); a folder that cannot hold the lock says why.
    void singleInstanceGuard()
    {
        QTemporaryDir config;
        QTemporaryDir runtime;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const QString key = QStringLiteral("SonviraGuardTest");
        {
            platform::SingleInstanceGuard first(key);
            QVERIFY(first.tryAcquire());
            QVERIFY(first.tryAcquire());
            qunsetenv("XDG_RUNTIME_DIR");
            platform::SingleInstanceGuard second(key);
            QVERIFY(!second.tryAcquire());
            QCOMPARE(second.failure(), QString());
            platform::SingleInstanceGuard other(QStringLiteral("SonviraGuardTestOther"));
            QVERIFY(other.tryAcquire());
        }
        platform::SingleInstanceGuard again(key);
        QVERIFY(again.tryAcquire());

        QFile blocker(config.filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker.fileName()));
        platform::SingleInstanceGuard refused(key);
        QVERIFY(!refused.tryAcquire());
        QVERIFY2(refused.failure().startsWith(QStringLiteral("Cannot create")), qPrintable(refused.failure()));
        qunsetenv("XDG_CONFIG_HOME");
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
