#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;
class UploadForm;

// The bytes of a job upload's body in order, as the sender asks for them:
// the form's head, the file's bytes and the form's tail. The tail is given
// only once the file has ended exactly where the form said, so a file that
// got shorter or longer while it was sent never reaches the service as a
// whole request.
class FormBody final {
public:
    FormBody(const UploadForm& form, QIODevice& file);

    // Copies up to `size` bytes into buffer; 0 at the end, -1 when the file
    // failed (errorText()).
    qint64 read(char* buffer, qint64 size);
    QString errorText() const { return m_error; }

private:
    qint64 copyFrom(const QByteArray& part, qint64& offset, char* buffer, qint64 size);
    bool fileEndsHere();

    QByteArray m_head;
    QByteArray m_tail;
    QIODevice& m_file;
    qint64 m_headOffset = 0;
    qint64 m_fileLeft;
    qint64 m_tailOffset = 0;
    bool m_fileChecked = false;
    QString m_error;
};
