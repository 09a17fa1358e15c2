#include "dialogs/quitcheck.h"

#include "audio/audioencoderparent.h"
#include "dialogs/dlgencoder.h"
#include "dialogs/dlgloudness.h"
#include "dialogs/encoderlistview.h"

#include <QMessageBox>
#include <QStringList>

namespace quitcheck {

int runningMp3Encodings(const QWidget& mainWindow, const EncoderListView& list)
{
    int running = 0;
    for (int row = 0; row < list.encoderCount(); ++row)
        running += list.encoderAt(row)->isFinished() ? 0 : 1;
    for (const dlgEncoder* window : mainWindow.findChildren<dlgEncoder*>()) {
        for (int row = 0; row < window->encoderCount(); ++row)
            running += window->encoderAt(row)->isFinished() ? 0 : 1;
    }
    return running;
}

bool confirmQuit(QWidget& mainWindow, const EncoderListView& list)
{
    QStringList reasons;
    const int encodings = runningMp3Encodings(mainWindow, list);
    if (encodings > 0)
        reasons << QStringLiteral("%1 MP3 encodings are still running.").arg(encodings);
    const QList<dlgLoudness*> loudnessWindows = mainWindow.findChildren<dlgLoudness*>();
    for (const dlgLoudness* window : loudnessWindows) {
        if (window->isNormalizing()) {
            reasons << QStringLiteral("Audio files are being normalized.");
            break;
        }
    }
    if (reasons.isEmpty())
        return true;
    const QMessageBox::StandardButton answer =
        QMessageBox::question(&mainWindow, QStringLiteral("Quit"), reasons.join(QLatin1Char(' ')) + QStringLiteral(" Quit anyway?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    for (dlgLoudness* window : loudnessWindows)
        window->abandonRun();
    return true;
}

} // namespace quitcheck
