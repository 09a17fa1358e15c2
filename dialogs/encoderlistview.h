#pragma once

#include <QListView>

class QStandardItemModel;
class QTimer;
class audioEncoderParent;

// The main window's list of MP3 encoding jobs: one row per encoder, its
// status text refreshed every second. The view owns the encoders it lists:
// clearFinished() destroys every finished encoder with its row, and the
// view's destruction destroys the rest (a running encoder is cancelled and
// its worker joined, which takes one pull of the source).
class EncoderListView : public QListView {
    Q_OBJECT

public:
    explicit EncoderListView(QWidget* parent = nullptr);
    ~EncoderListView() override;

    // Takes ownership of `encoder` and appends its row.
    void addEncoder(audioEncoderParent* encoder);
    // Removes and destroys, last row first, every encoder that isFinished().
    void clearFinished();
    int encoderCount() const;
    audioEncoderParent* encoderAt(int row) const;

public slots:
    void updateListView();

private:
    QStandardItemModel* m_model = nullptr;
    QTimer* m_timer = nullptr;
};
