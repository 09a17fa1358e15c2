#pragma once

#include <QList>
#include <QUrl>

#include "driver/queuecommands.h"

class Account;
class QWidget;

// Several audio files dropped at once: the new-files dialog in manual mode
// lists them (URLs that name no local file are left out) (first file's folder as source and save-to folder, suffix
// "-{presetName}", the last preset proposed), and each accepted row is
// queued with priority 10 and that folder's options. Refused files (a
// destination folder that cannot be written) and dropped folders are listed
// in one "Error adding files" box. True when the dialog was accepted.
// With destination URLs (the sound of videos, whose results belong beside
// the videos) the save-to folder is the first destination's folder.
bool addSeveralAudioFiles(QWidget* parent, const Account& account, QueueCommands& commands, const QList<QUrl>& urls,
                          const QList<QUrl>& destUrls = {});
// The new-files dialog in manual mode on several proposed files, the way a
// drop shows them (the first request's destination folder as save-to
// folder; each file's original location is its request's destination
// folder). Accepted, the requests are replaced by the chosen rows.
// `videos` names, per request, the video whose sound it is (or nothing).
bool chooseSeveralFiles(QWidget* parent, const Account& account, QList<FileRequest>& requests,
                        const QStringList& videos = {});
