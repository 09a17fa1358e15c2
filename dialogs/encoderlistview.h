#pragma once

#include <QListView>

class QStandardItemModel;
class QTimer;
class audioEncoderParent;

// A list of MP3 encoding jobs: one row per encoder, its status text
// refreshed every second. By default the view owns the encoders it lists:
// clearFinished() destroys every finished encoder with its row, and the
// view's destruction destroys the rest (a running encoder is cancelled and
// its worker joined, which takes one pull of the source). The main
// window's "Audio encoder" tab only shows the driver's jobs
// (setOwnsEncoders(false)): their owner removes their rows before it
// destroys them.
class EncoderListView : public QListView {
    Q_OBJECT

public:
    explicit EncoderListView(QWidget* parent = nullptr);
    ~EncoderListView() override;

    void setOwnsEncoders(bool owns) { m_ownsEncoders = owns; }
    // Appends the encoder's row (and takes the encoder when the view owns its encoders).
    void addEncoder(audioEncoderParent* encoder);
    // Removes the encoder's row without destroying it.
    void removeEncoder(const audioEncoderParent* encoder);
    // Removes and destroys, last row first, every encoder that isFinished().
    void clearFinished();
    int encoderCount() const;
    audioEncoderParent* encoderAt(int row) const;

public slots:
    void updateListView();

private:
    QStandardItemModel* m_model = nullptr;
    QTimer* m_timer = nullptr;
    bool m_ownsEncoders = true;
};
