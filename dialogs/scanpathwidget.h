#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFrame;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QToolButton;
class QVBoxLayout;
class ScanPath;

// The panel that edits one watched folder inside the setup window. It turns
// the folder's stored option strings into check boxes and radio buttons and
// back: the loudness targets ("normOp00:" lines), the noise-reduction mode
// ("nredOp00:" line), what becomes of the noise-reduced file, mono handling
// and MP3 encoding. It keeps no reference to the record it shows: loadFrom
// copies a record in, storeTo writes the panel's state into one.
//
// Each normalisation box and noise-reduction radio button carries the
// option line it stands for in its dynamic property "arg".
class scanPathWidget final : public QWidget {
    Q_OBJECT

public:
    explicit scanPathWidget(QWidget* parent = nullptr);

    // Offers these presets in the preset box, after any offered before.
    void setPresetNames(const QList<QByteArray>& names);
    void loadFrom(const ScanPath& record);
    void storeTo(ScanPath& record) const;
    // Shows why the folder is polled instead of watched above the panel's
    // rows; an empty text hides the line.
    void setWatchWarning(const QString& text);
    // The watched folder as shown.
    QString watchedFolder() const;

    // Process-wide panel number: 1000 for the first panel, then one more
    // for each panel constructed.
    int widgetID() const { return m_widgetID; }
    // The id of the record last loaded, handed back by storeTo.
    int spcID() const { return m_spcID; }

    // Why the panel's values cannot be stored (a custom noise value that is
    // not a number, naming its field); empty when they can.
    QString validationError() const;

signals:
    // The delete button was clicked; the setup window removes the panel.
    void delete_clicked(scanPathWidget* sender, int widgetID, int spcID);

private slots:
    void browseOutput_clicked();
    void browseWatchedFolder_clicked();
    void btnDelete_clicked();
    void handleCreateWSuffixToggled(bool checked);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Rows of the panel, top to bottom.
    void buildLocationRows(QBoxLayout* column);
    void buildPresetRows(QBoxLayout* column);
    void buildMp3Rows(QBoxLayout* column);
    void buildMonoRow(QBoxLayout* column);
    void buildNormaliseRow(QBoxLayout* column);
    // A framed box with its caption on the left and a column of controls
    // (`buttons`) beside it.
    QFrame* framedBox(const QString& caption, QVBoxLayout*& buttons);
    QLabel* lblWatchWarning = nullptr;
    QFrame* buildNoiseFrame();
    QFrame* buildResultFrame();
    QHBoxLayout* addRow(QBoxLayout* column);
    QLabel* wideLabel(const QString& text);
    // A "..." button named (for tooltips and screen readers) by `name`.
    QToolButton* browseButton(const QString& name);
    // A label tied to `control`, so that it names it; parent defaults to the panel.
    QLabel* captionFor(const QString& text, QWidget* control, QWidget* parent = nullptr);
    void browseFolderFor(QLabel* label, const QString& title);

    void loadPreset(const QByteArray& stored);
    void loadNormalisation(const QString& arguments);
    void loadNoiseReduction(const QString& arguments);
    void loadPreProcessResult(int result);
    QString storedNormalisation() const;
    QString storedNoiseReduction() const;
    int storedPreProcessResult() const;

    int m_widgetID = 0;
    int m_spcID = 0;
    QList<QCheckBox*> normaliseBoxes;
    QList<QRadioButton*> noiseButtons;
    QList<QByteArray> presetNames;
    // Base colour of the painted background; the palette's window colour,
    // taken at every paint.
    QColor background{250, 250, 255};

    QCheckBox* chkEnabled = nullptr;
    QLabel* lblWatchedPath = nullptr;
    QLabel* lblOutputPath = nullptr;
    QCheckBox* chkShowDialog = nullptr;
    QCheckBox* chkRecursive = nullptr;
    QSpinBox* spnSettleSeconds = nullptr;
    QCheckBox* chkTruePeakCeiling = nullptr;
    QDoubleSpinBox* spnTruePeakCeiling = nullptr;
    QComboBox* cmbPreset = nullptr;
    QLineEdit* txtSuffix = nullptr;
    QCheckBox* chkConvertToMp3 = nullptr;
    QComboBox* cmbBitRate = nullptr;
    QLineEdit* txtMp3Suffix = nullptr;
    QCheckBox* chkDeleteWav = nullptr;
    QCheckBox* chkConvertMono = nullptr;
    QCheckBox* chkKeepStereo = nullptr;
    QRadioButton* rdoCustom = nullptr;
    QLineEdit* txtSpeechToMusic = nullptr;
    QLineEdit* txtMusicToSpeech = nullptr;
    QRadioButton* rdoReplaceOriginal = nullptr;
    QRadioButton* rdoCreateNrSuffix = nullptr;
    QCheckBox* chkDeleteAfterSubmission = nullptr;
};
