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

// The video each sound of a video (a source with a destination URL) was
// taken from; the sound itself waits in the working folder.
QHash<QString, QString> videosOf(const QList<QUrl>& urls, const QList<QUrl>& destUrls)
{
    QHash<QString, QString> videos;
    for (qsizetype i = 0; i < urls.size() && i < destUrls.size(); ++i) {
        if (destUrls.at(i).isLocalFile())
            videos.insert(QDir::toNativeSeparators(urls.at(i).toLocalFile()),
                          QDir::toNativeSeparators(destUrls.at(i).toLocalFile()));
    }
    return videos;
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
    const QHash<QString, QString> videos = videosOf(urls, destUrls);
    for (const QString& source : sources)
        dialog.addRow(source, QFileInfo(source).fileName(), proposed, QFileInfo(videos.value(source)).fileName());
    dialog.setWindowState(dialog.windowState() & ~Qt::WindowMinimized);
    if (dialog.exec() != QDialog::Accepted)
        return false;

    ProcessingOptions options;
    folder.toOptions(options);
    QList<FileRequest> requests;
    for (const NewFileEntry& entry : dialog.getResults()) {
        QString destination = entry.destination;
        // The original location of a video's sound is the video's folder.
        if (dialog.saveInOriginalLocation())
            destination = QFileInfo(videos.value(entry.source, entry.source)).absolutePath() + QLatin1Char('/')
                + QFileInfo(destination).fileName();
        requests.append({entry.source, destination, entry.preset, options});
    }
    for (const Refusal& refusal : commands.queueFiles(requests))
        errors += refusalText(refusal.source, refusal.text);
    if (!errors.isEmpty())
        QMessageBox::critical(parent, QStringLiteral("Error adding files"), errors);
    return true;
}
