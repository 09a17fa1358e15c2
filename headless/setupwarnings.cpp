#include "headless/setupwarnings.h"

#include "settings/settings.h"
#include "video/ffmpegtool.h"

#include <QDebug>
#include <QFileInfo>

namespace headless {

void warnAboutSetup(const Settings& settings)
{
    for (const ScanPath& folder : settings.scanPaths()) {
        if (folder.enabled && !QFileInfo(folder.path).isDir())
            qWarning().noquote() << "Watched folder" << folder.path << "does not exist; nothing is queued from it";
    }
    if (!ffmpegtool::isFfmpegAvailable()) {
        const QString where = settings.FFMPEGPath.isEmpty() ? QStringLiteral("on the PATH")
                                                            : QStringLiteral("in ") + QString::fromUtf8(settings.FFMPEGPath);
        qWarning().noquote() << "No ffmpeg" << where << "answers: videos are not processed";
    }
}

} // namespace headless
