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
    // The sound of a video belongs beside its video: its request's
    // destination names the video's folder.
    const QHash<QString, QString> videos = videosOf(urls, destUrls);
    QList<FileRequest> requests;
    QStringList shown;
    const QString preset = QString::fromUtf8(account.lastPreset());
    for (const QString& source : sources) {
        const QString video = videos.value(source);
        requests.append({source, video.isEmpty() ? source : video, preset, ProcessingOptions()});
        shown << video;
    }
    if (!chooseSeveralFiles(parent, account, requests, shown))
        return false;
    for (const Refusal& refusal : commands.queueFiles(requests))
        errors += refusalText(refusal.source, refusal.text);
    if (!errors.isEmpty())
        QMessageBox::critical(parent, QStringLiteral("Error adding files"), errors);
    return true;
}

bool chooseSeveralFiles(QWidget* parent, const Account& account, QList<FileRequest>& requests,
                        const QStringList& videos)
{
    if (requests.isEmpty())
        return false;
    const auto folderOf = [](const QString& path) { return QDir::toNativeSeparators(QFileInfo(path).absolutePath()); };
    QHash<QString, QString> origins;
    for (const FileRequest& request : std::as_const(requests))
        origins.insert(request.source, folderOf(request.destination));
    ScanPath folder;
    folder.path = folderOf(requests.first().source);
    folder.outputPath = folderOf(requests.first().destination);
    folder.outputSuffix = QStringLiteral("-{presetName}");

    DlgAddMultpleFiles dialog(parent, true);
    dialog.setPresetNames(account.presets());
    dialog.setFolder(folder);
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const FileRequest& request = requests.at(i);
        dialog.addRow(request.source, QFileInfo(request.source).fileName(), request.preset,
                      QFileInfo(videos.value(i)).fileName());
    }
    dialog.setWindowState(dialog.windowState() & ~Qt::WindowMinimized);
    if (dialog.exec() != QDialog::Accepted)
        return false;

    ProcessingOptions options;
    folder.toOptions(options);
    requests.clear();
    for (const NewFileEntry& entry : dialog.getResults()) {
        QString destination = entry.destination;
        // The original location of a video's sound is the video's folder.
        if (dialog.saveInOriginalLocation())
            destination = origins.value(entry.source, folderOf(entry.source)) + QLatin1Char('/')
                + QFileInfo(destination).fileName();
        requests.append({entry.source, destination, entry.preset, options});
    }
    return true;
}
