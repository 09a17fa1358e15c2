#pragma once

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QString>

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
    // Runs the source browser at once. With rejectIfMissing, a source label
    // that then names no existing file rejects the dialog and gives false.
    bool browseSourceNow(bool rejectIfMissing);

    QString preset() const { return m_preset; }
    QString source() const { return m_source; }
    QString destination() const { return m_destination; }

    // folder of namingPath + "/" + its name up to the first dot
    // + " - {presetName}." + extension, in native separators.
    static QString proposedDestination(const QString& namingPath, const QString& extension);

public slots:
    void accept() override;

private slots:
    void on_btnBrowseSrc_clicked();
    void on_btnBrowseDest_clicked();

private:
    QString m_preset;
    QString m_source;
    QString m_destination;
    QList<QByteArray> presetNames;
    Ui::dlgAddFile* ui;
};
