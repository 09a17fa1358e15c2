#include "app/resultencoding.h"

#include "audio/mp3encoder.h"
#include "dialogs/encoderlistview.h"
#include "pipeline/queuefile.h"
#include "settings/naming.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

QString mp3NameFor(const QString& result, const QString& suffix, const QString& preset)
{
    const QFileInfo info(result);
    const QString name = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + suffix + QStringLiteral(".mp3");
    return QDir::toNativeSeparators(naming::expandNameTemplateInPath(name, preset));
}

void encodeResultToMp3(const QueueFile& file, EncoderListView& list, QMutex& deleteRequestsLock,
                       QStringList& deleteRequests)
{
    const ProcessingOptions& options = file.options;
    if (!options.fromWatchFolder || !options.encodeToMP3)
        return;
    QStringList results;
    if (!file.destFile.isEmpty())
        results << QString::fromUtf8(file.destFile);
    for (const QByteArray& output : file.outputFiles)
        results << QString::fromUtf8(output);
    for (const QString& result : std::as_const(results)) {
        qDebug() << "To encoder" << result << options.watchFolderPath;
        auto* encoder = new mp3Encoder;
        encoder->deleteRequests = &deleteRequests;
        encoder->deleteRequestsLock = &deleteRequestsLock;
        encoder->deleteInputWhenDone = options.deleteWAVafterMP3Encoding;
        encoder->setInputFile(result);
        encoder->setOutputFile(mp3NameFor(result, options.encodeToMP3_suffix, options.preset));
        list.addEncoder(encoder);
        encoder->setSettings(QStringLiteral("-b") + options.encodeToMP3_bitRate);
        encoder->pendingEncodings = file.pendingMp3s;
        ++*file.pendingMp3s;
        encoder->start();
    }
}
