#pragma once

class QWidget;
class EncoderListView;

// What a Quit would cut off in the tool windows and the encoder list: MP3
// encodings still running (in the "Audio encoder" tab and in every MP3
// encoder window, open or closed) and loudness normalisations in progress.
// confirmQuit() asks the user once for all of them; when the answer is to
// quit anyway, the normalisations are stopped and their partial files
// removed at once (the encoders are cancelled when their owners are
// destroyed, which removes their partial MP3s).
namespace quitcheck {

int runningMp3Encodings(const QWidget& mainWindow, const EncoderListView& list);
// True when nothing would be cut off or the user chose to quit anyway.
bool confirmQuit(QWidget& mainWindow, const EncoderListView& list);

} // namespace quitcheck
