#include "driver/shownnames.h"

#include "audio/postprocessing.h"
#include "pipeline/queuefile.h"
#include "settings/naming.h"
#include "video/videofile.h"
#include "video/videosupport.h"

#include <QStringList>

namespace shownnames {

namespace {

QString text(const QByteArray& utf8)
{
    return QString::fromUtf8(utf8);
}

// The results are renamed from their work name (".tmp") to ".wav" when
// post-processing ends.
QString finalName(const QString& workName)
{
    return naming::withExtension(workName, QStringLiteral("wav"));
}

} // namespace

QString source(const QueueFile& file, const videoSupport* videos)
{
    const QString queued = text(file.originalSourceFile.isEmpty() ? file.srcFile : file.originalSourceFile);
    if (videos) {
        if (const videoFile* record = videos->findByExtractedAudio(queued))
            return record->sourceVideo;
    }
    return queued;
}

QString destination(const QueueFile& file)
{
    QStringList names;
    if (file.getState() == QueueFileState::Done) {
        for (const QByteArray& output : file.outputFiles)
            names << text(output);
    }
    const QString destination = text(file.destFile);
    if (names.isEmpty() && destination.endsWith(QLatin1String(".tmp"))) {
        for (const QString& output : PostProcessing::plannedOutputs(destination, file.options.postProcessing_Arguments,
                                                                          file.convertedToStereo))
            names << finalName(output);
    }
    if (names.isEmpty())
        names << destination;
    return names.join(QStringLiteral("; "));
}

} // namespace shownnames
