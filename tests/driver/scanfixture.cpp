#include "scanfixture.h"

#include "audiofixtures.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QThread>

const QByteArray ScanFixture::kSpeech = "1: Speech -16 LUFS";

bool ScanFixture::startService()
{
    if (m_service.start())
        return true;
    qWarning().noquote() << "the service did not start:" << m_service.errorString();
    return false;
}

void ScanFixture::setUp()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<Settings>();
    m_queue = std::make_unique<QueueManager>();
    m_registry = std::make_unique<OutputRegistry>(m_settings.get());
    m_queue->setOnDestFileAdded([this](const QByteArray& dest) { m_registry->queue_newDestFileAdded(dest); });
    m_queued.clear();
    m_refusals.clear();
}

void ScanFixture::makeTick(NewFilesOffer* offer)
{
    m_tick = std::make_unique<FolderScanTick>(
        m_settings.get(), m_queue.get(), offer,
        [this](const QStringList& sources) { m_queued << sources; },
        [this](const QList<Refusal>& refusals) {
            QStringList report;
            for (const Refusal& refusal : refusals)
                report << refusal.source + QStringLiteral(": ") + QString::fromUtf8(refusal.text);
            m_refusals << report;
        });
}

FolderScanTick::Outcome ScanFixture::tickRead()
{
    FolderScanTick::Outcome outcome = m_tick->tick();
    const QDeadlineTimer deadline(10000);
    while (m_tick->readingFiles() && !deadline.hasExpired())
        QThread::msleep(2);
    const FolderScanTick::Outcome later = m_tick->tick();
    outcome.added += later.added;
    outcome.refusals += later.refusals;
    return outcome;
}

bool ScanFixture::logIn()
{
    if (!m_queue->createSessions(m_service.apiUrl().toUtf8(), 1))
        return false;
    m_queue->setCredentials(ServiceProcess::demoEmail().toUtf8(), ServiceProcess::demoPassword().toUtf8());
    return QTest::qWaitFor([this] { return (m_queue->cycle(false, false), !m_queue->presets().isEmpty()); }, 15000)
        && m_queue->presets().contains(kSpeech);
}

void ScanFixture::tearDown()
{
    m_tick.reset();
    if (m_queue)
        m_queue->stop();
    m_queue.reset();
}

ScanPath& ScanFixture::addFolder(const QString& name, const QString& output, const QByteArray& preset)
{
    QDir(m_dir->path()).mkpath(name);
    ScanPath folder;
    folder.path = native(name);
    folder.outputPath = output.isEmpty() ? QString() : native(output);
    folder.preset = preset;
    m_settings->addScanPath(folder);
    return m_settings->scanPathRecords().last();
}

QString ScanFixture::writeWav(const QString& path, double seconds)
{
    fixtures::Signal signal;
    const QString full = native(path);
    if (!QDir().mkpath(QFileInfo(full).absolutePath()) || !fixtures::writeSine(full, seconds, 440.0, 0.5, signal))
        return {};
    return full;
}

QString ScanFixture::native(const QString& relative) const
{
    return QDir::toNativeSeparators(m_dir->filePath(relative));
}
