#include "app/severalfilesdrop.h"

#include "driver/destinationcheck.h"
#include "driver/folderscantick.h"
#include "dialogs/dlgaddmultplefiles.h"
#include "driver/account.h"
#include "driver/queuecommands.h"
#include "settings/scanpath.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMessageBox>

namespace {

// The local files among the URLs; dropped folders go into `errors`.
QStringList localFiles(const QList<QUrl>& urls, QString& errors)
{
    QStringList files;
    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        const QFileInfo info(path);
        if (path.isEmpty())
            continue;
        if (info.isDir())
            errors += refusalText(QDir::toNativeSeparators(path), droppedFolderRefusal());
        else if (info.isFile())
            files.append(QDir::toNativeSeparators(path));
    }
    return files;
}

// Each source's original location: its own folder, or for the sound of a
// video (a source with a destination URL) the video's folder, since the
// sound itself waits in the working folder.
QHash<QString, QString> originalFolders(const QList<QUrl>& urls, const QList<QUrl>& destUrls)
{
    QHash<QString, QString> folders;
    for (qsizetype i = 0; i < urls.size() && i < destUrls.size(); ++i) {
        if (destUrls.at(i).isLocalFile())
            folders.insert(QDir::toNativeSeparators(urls.at(i).toLocalFile()),
                           QFileInfo(destUrls.at(i).toLocalFile()).absolutePath());
    }
    return folders;
}

} // namespace

bool addSeveralAudioFiles(QWidget* parent, const Account& account, QueueCommands& commands, const QList<QUrl>& urls,
                          const QList<QUrl>& destUrls)
{
    QString errors;
    const QStringList sources = localFiles(urls, errors);
    if (sources.isEmpty()) {
        if (!errors.isEmpty())
            QMessageBox::critical(parent, QStringLiteral("Error adding files"), errors);
        return false;
    }
    ScanPath folder;
    folder.path = QDir::toNativeSeparators(QFileInfo(sources.first()).absolutePath());
    folder.outputPath = folder.path;
    if (!destUrls.isEmpty() && destUrls.first().isLocalFile())
        folder.outputPath = QDir::toNativeSeparators(QFileInfo(destUrls.first().toLocalFile()).absolutePath());
    folder.outputSuffix = QStringLiteral("-{presetName}");

    DlgAddMultpleFiles dialog(parent, true);
    dialog.setPresetNames(account.presets());
    dialog.setFolder(folder);
    const QString proposed = QString::fromUtf8(account.lastPreset());
    for (const QString& source : sources)
        dialog.addRow(source, QFileInfo(source).fileName(), proposed);
    dialog.setWindowState(dialog.windowState() & ~Qt::WindowMinimized);
    if (dialog.exec() != QDialog::Accepted)
        return false;

    ProcessingOptions options;
    folder.toOptions(options);
    const QHash<QString, QString> origins = originalFolders(urls, destUrls);
    QList<FileRequest> requests;
    for (const NewFileEntry& entry : dialog.getResults()) {
        QString destination = entry.destination;
        if (dialog.saveInOriginalLocation())
            destination = origins.value(entry.source, QFileInfo(entry.source).absolutePath()) + QLatin1Char('/')
                + QFileInfo(destination).fileName();
        requests.append({entry.source, destination, entry.preset, options});
    }
    for (const Refusal& refusal : commands.queueFiles(requests))
        errors += refusalText(refusal.source, refusal.text);
    if (!errors.isEmpty())
        QMessageBox::critical(parent, QStringLiteral("Error adding files"), errors);
    return true;
}
