#pragma once

#include <QDialog>

#include <memory>

class QStandardItemModel;
class QTimer;
class audioEncoderParent;

namespace Ui {
class dlgEncoder;
}

// The stand-alone MP3 encoder window: audio files dropped on it become rows
// (nothing starts until Encode), Encode starts every row with the chosen bit
// rate, and the rows' status texts are refreshed twice a second.
//
// The window owns its encoders. Closing it only hides it: encodings still
// running finish in the background, and once the window is closed and none
// runs any more it destroys itself with its encoders. Destroying it while
// encoders run (the main window going away) cancels them.
class dlgEncoder : public QDialog {
    Q_OBJECT

public:
    explicit dlgEncoder(QWidget* parent = nullptr);
    ~dlgEncoder() override;

    // Selects the combo item whose text equals `bitRate` (case ignored).
    void setBitRate(const QString& bitRate);
    // Adds one row for `path` as a drop does; false when the file is an MP3
    // already, not a regular file, or listed already and not failed. Two
    // sources that would write the same MP3 get distinct names.
    bool addFile(const QString& path);
    int encoderCount() const;
    audioEncoderParent* encoderAt(int row) const;
    QString rowText(int row) const;

    static QString versionText();

public slots:
    void done(int result) override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private slots:
    void tmr_UpdateView_Tick();
    void on_btnEncode_clicked();
    void on_btnAddFiles_clicked();

private:
    bool anyRunning() const;
    bool isListed(const QString& path) const;

    std::unique_ptr<Ui::dlgEncoder> ui;
    QStandardItemModel* m_model = nullptr;
    QTimer* m_timer = nullptr;
    bool m_closed = false;
};
