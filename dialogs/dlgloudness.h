#pragma once

#include <QDialog>
#include <QList>

#include <memory>
#include <vector>

class LoudnessRun;
class MeterJob;
class QStandardItemModel;
class QTimer;
struct LoudnessTarget;

namespace Ui {
class dlgLoudness;
}

// The loudness normaliser window: WAV files dropped on it are measured in
// the background (dB RMS, LUFS and, in the same pass, loudness over time and
// the sample peak), one target is chosen, and Normalize writes a copy of
// every measured, non-silent file at that target next to it, one file at a
// time. Each row gives the file's loudness range and true peak too;
// selecting a row plots its loudness over time; its tooltip gives the sample
// and true peak after the planned gain. With "Limit true peak to -1 dBTP"
// ticked, a file whose true peak would pass -1 dBTP at the target's gain is
// written through the true-peak limiter at its target (the log says how far
// under the target it stays where that would need more than 12 dB of
// limiting), and the plot marks the ceiling. The run itself, with its rules
// for what is written and what is removed, is a LoudnessRun; the window
// starts it, ticks it and shows its log.
//
// While a run is in progress, Clear, Normalize and closing are refused with a
// message box; while a file is still being measured, Normalize is. Clear,
// closing and the window's destruction abandon measurements still at work
// and never wait for them (a file on a stalled share may never open); the
// destructor ends the run (its render stops and its partial file goes).
class dlgLoudness : public QDialog {
    Q_OBJECT

public:
    explicit dlgLoudness(QWidget* parent = nullptr);
    ~dlgLoudness() override;

    void add_filePath(const QString& path);
    bool isNormalizing() const { return normalizing; }
    // Ends a run at once: the render in progress is stopped and its partial
    // file removed; outputs already written stay.
    void abandonRun();
    int rowCount() const;
    QString rowText(int row) const;
    QString rowToolTip(int row) const;

public slots:
    void done(int result) override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private slots:
    void on_btnClear_clicked();
    void on_btnNormalize_clicked();
    void on_btnAddFiles_clicked();
    void tmr_result_Tick();
    void tmr_render_Tick();

private:
    // A WAV that is a regular file joins the list; other files are passed over.
    void addIfWav(const QString& path);
    bool stillMeasuring();
    void normalize(const LoudnessTarget& target);
    bool chosenTarget(LoudnessTarget& target) const;
    void showResult(MeterJob& job);
    void refreshToolTips();
    void showSelectedPlot();

    std::unique_ptr<Ui::dlgLoudness> ui;
    bool normalizing = false;
    QTimer* resultTimer = nullptr;
    QTimer* renderTimer = nullptr;
    std::vector<std::unique_ptr<MeterJob>> meters;
    // The normalising run under way, if any.
    std::unique_ptr<LoudnessRun> run;
    QStandardItemModel* model = nullptr;
};
