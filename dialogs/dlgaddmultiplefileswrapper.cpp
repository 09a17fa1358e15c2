#include "dialogs/dlgaddmultiplefileswrapper.h"

#include "dialogs/dlgaddmultplefiles.h"
#include "settings/platform.h"
#include "settings/scanpath.h"

#include <QDir>
#include <QHash>
#include <QMutexLocker>
#include <QWidget>

dlgAddMultipleFiles_Wrapper::dlgAddMultipleFiles_Wrapper(QObject* parent)
    : QObject(parent)
{
}

dlgAddMultipleFiles_Wrapper::~dlgAddMultipleFiles_Wrapper()
{
    // A dialog still open when its wrapper goes must not answer it any more.
    if (m_dialog)
        m_dialog->disconnect(this);
    delete m_dialog;
}

void dlgAddMultipleFiles_Wrapper::setFolder(const ScanPath& scanPath)
{
    m_folderKey = scanPath.duplicateKey();
}

QString dlgAddMultipleFiles_Wrapper::folderKey() const
{
    return m_folderKey;
}

void dlgAddMultipleFiles_Wrapper::setPresetNames(const QList<QByteArray>& names)
{
    m_presetNames = names;
}

void dlgAddMultipleFiles_Wrapper::addFile(const QString& source, const QString& destination, const QString& preset)
{
    QMutexLocker state(&m_stateLock);
    if (m_open && m_dialog) {
        m_dialog->addRow(source, destination, preset);
        return;
    }
    QMutexLocker rows(&m_rowLock);
    NewFileEntry entry;
    entry.source = source;
    entry.destination = destination;
    entry.preset = preset;
    m_pendingRows.append(entry);
}

bool dlgAddMultipleFiles_Wrapper::hasPendingFiles() const
{
    QMutexLocker rows(&m_rowLock);
    return !m_pendingRows.isEmpty();
}

bool dlgAddMultipleFiles_Wrapper::show(QWidget* parent, const ScanPath& scanPath)
{
    QMutexLocker state(&m_stateLock);
    if (m_open || !m_collected)
        return false;
    QMutexLocker rows(&m_rowLock);
    if (m_pendingRows.isEmpty())
        return false;

    m_parent = parent;
    m_minimizeParentAfterClose = parent && parent->isMinimized();
    m_dialog = new DlgAddMultpleFiles(parent, false);
    m_dialog->setModal(true);
    m_dialog->setPresetNames(m_presetNames);
    m_dialog->setFolder(scanPath);
    m_accepted = false;
    m_open = true;
    connect(m_dialog, &QDialog::finished, this, &dlgAddMultipleFiles_Wrapper::dialog_closed);
    for (const NewFileEntry& row : std::as_const(m_pendingRows))
        m_dialog->addRow(row.source, row.destination, row.preset);
    m_pendingRows.clear();
    m_dialog->showNormal();
    return true;
}

bool dlgAddMultipleFiles_Wrapper::isOpen() const
{
    QMutexLocker state(&m_stateLock);
    return m_open;
}

void dlgAddMultipleFiles_Wrapper::dialog_closed(int result)
{
    QMutexLocker state(&m_stateLock);
    m_open = false;
    m_resultsReady = true;
    m_collected = false;
    if (result == QDialog::Accepted && m_dialog) {
        m_accepted = true;
        m_results = m_dialog->getResults();
        m_showAgain = !m_dialog->dontShowAgainChecked();
        m_suffixText = m_dialog->suffixText();
        m_saveToFolder = m_dialog->saveToFolder();
    } else {
        m_results.clear();
    }
    if (m_minimizeParentAfterClose && m_parent)
        m_parent->showMinimized();
    if (m_dialog) {
        disconnect(m_dialog, nullptr, this, nullptr);
        // The dialog is still inside its own finished signal: delete it once
        // control is back in the event loop.
        m_dialog->deleteLater();
        m_dialog = nullptr;
    }
}

bool dlgAddMultipleFiles_Wrapper::takeResultsReady()
{
    QMutexLocker state(&m_stateLock);
    const bool ready = m_resultsReady;
    m_resultsReady = false;
    return ready;
}

QList<NewFileEntry> dlgAddMultipleFiles_Wrapper::takeResults()
{
    QMutexLocker state(&m_stateLock);
    m_collected = true;
    return m_results;
}

bool dlgAddMultipleFiles_Wrapper::wasAccepted() const
{
    QMutexLocker state(&m_stateLock);
    return m_accepted;
}

bool dlgAddMultipleFiles_Wrapper::showAgain() const
{
    QMutexLocker state(&m_stateLock);
    return m_showAgain;
}

QString dlgAddMultipleFiles_Wrapper::saveToFolder() const
{
    QMutexLocker state(&m_stateLock);
    return m_saveToFolder;
}

QString dlgAddMultipleFiles_Wrapper::suffixText() const
{
    QMutexLocker state(&m_stateLock);
    return m_suffixText;
}

bool dlgAddMultipleFiles_Wrapper::dominantPreset(QString& preset) const
{
    QMutexLocker state(&m_stateLock);
    QHash<QString, int> counts;
    int selected = 0;
    for (const NewFileEntry& entry : m_results) {
        if (!entry.selected)
            continue;
        ++selected;
        ++counts[entry.preset];
    }
    QString best;
    int bestCount = 0;
    // Walk the results again so that a tie goes to the preset seen first.
    for (const NewFileEntry& entry : m_results) {
        const int count = counts.value(entry.preset);
        if (entry.selected && count > bestCount) {
            best = entry.preset;
            bestCount = count;
        }
    }
    if (selected == 0 || bestCount <= 0.8 * selected)
        return false;
    preset = best;
    return true;
}

DlgAddMultpleFiles* dlgAddMultipleFiles_Wrapper::dialog() const
{
    QMutexLocker state(&m_stateLock);
    return m_dialog;
}
