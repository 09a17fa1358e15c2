#pragma once

#include "driver/folderscantick.h"
#include "driver/outputregistry.h"
#include "pipeline/queuemanager.h"
#include "serviceprocess.h"
#include "settings/settings.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class NewFilesOffer;

// The frame of a folder-scanner test: the reference service for the whole
// test case, and per test function a fresh folder, settings, queue manager
// (with its destinations registered as outputs, as the driver does) and
// folder-scan tick whose tray messages and refusals are kept.
class ScanFixture {
protected:
    static const QByteArray kSpeech;

    // Starts the service; the test case's initTestCase calls it.
    bool startService();
    // A fresh folder, settings, queue manager and output registry.
    void setUp();
    // The tick, asking `offer` about folders that ask first.
    void makeTick(NewFilesOffer* offer = nullptr);
    // A tick, and once the new files it asked for are read on the digest
    // worker, a second one; their outcomes together.
    FolderScanTick::Outcome tickRead();
    // Logs the queue manager in with one session; true once the presets are loaded.
    bool logIn();
    void tearDown();

    ScanPath& addFolder(const QString& name, const QString& output = QString(), const QByteArray& preset = kSpeech);
    // A short sine at `path` below the folder, creating its folder; its
    // native path, or "" when it could not be written.
    QString writeWav(const QString& path, double seconds = 0.3);
    // The native path of `relative` below the folder.
    QString native(const QString& relative) const;

    ServiceProcess m_service{{QStringLiteral("--step-ms"), QStringLiteral("0")}};
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<QueueManager> m_queue;
    std::unique_ptr<OutputRegistry> m_registry;
    std::unique_ptr<FolderScanTick> m_tick;
    // The sources of each report of quick-added files.
    QList<QStringList> m_queued;
    // Each report of refused files: "<source>: <reason>" per file.
    QList<QStringList> m_refusals;
};
