#include "windowtest.h"

#include "audiofixtures.h"

#include <QDir>
#include <QStandardPaths>
#include <QTest>

WindowTest::WindowTest(Start start)
    : m_start(start)
{
}

void WindowTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void WindowTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    client = std::make_unique<ClientFixture>();
    if (m_start == Start::LoggedOut)
        client->start();
}

void WindowTest::cleanup()
{
    // The window goes before the service it may still be talking to.
    client.reset();
    service.reset();
    dir.reset();
}

bool WindowTest::startService(const QStringList& options)
{
    service = std::make_unique<ServiceProcess>(QStringList{"--step-ms", "20"} + options);
    if (!service->start()) {
        qWarning().noquote() << "the service did not start:" << service->errorString();
        return false;
    }
    return client->logIn(service->apiUrl());
}

QString WindowTest::wav(const QString& name, int channels, double seconds) const
{
    fixtures::Signal signal;
    signal.channels = channels;
    const QString file = dir->filePath(name);
    if (!fixtures::writeSine(file, seconds, 440.0, 0.25, signal))
        return {};
    return QDir::toNativeSeparators(file);
}

bool WindowTest::waitForState(QueueFile* file, QueueFileState state, int timeoutMs)
{
    return QTest::qWaitFor([&] { return file->getState() == state; }, timeoutMs);
}
