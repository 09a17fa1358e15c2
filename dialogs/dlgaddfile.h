#pragma once

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

namespace Ui {
class dlgAddFile;
}

// "Add audio file": picks one source file, its destination name and the
// preset. It only collects and checks the three values; the caller queues
// the file.
class dlgAddFile : public QDialog {
    Q_OBJECT

public:
    explicit dlgAddFile(QWidget* parent = nullptr);
    ~dlgAddFile() override;

    void setContext(const QString& source, const QString& destination, const QList<QByteArray>& presetNames,
                    const QByteArray& currentPreset);

    QString preset() const { return m_preset; }
    QString source() const { return m_source; }
    QString destination() const { return m_destination; }

    // Shows `shown` as the source (the video whose sound is queued) while
    // the source itself stays what setContext or the browser gave.
    void showSourceAs(const QString& shown);
    // Opens with the focus on the preset list, for a caller whose question
    // is which preset to use.
    void focusPresetList();

    // The file browser of "Add file": one or more audio files, starting in
    // `folder` (the home folder when empty); empty when cancelled.
    static QStringList chooseSources(QWidget* parent, const QString& folder);

public slots:
    void accept() override;

private slots:
    void on_btnBrowseSrc_clicked();
    void on_btnBrowseDest_clicked();

private:
    // The destination as chosen, which may hold a name template; the label
    // shows it expanded with the preset chosen.
    void setDestination(const QString& destination);
    void showDestination();

    QString m_preset;
    QString m_source;
    QString m_destination;
    QString m_destinationTemplate;
    QString m_sourcePath;
    QList<QByteArray> presetNames;
    Ui::dlgAddFile* ui;
};
