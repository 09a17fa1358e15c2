#pragma once

#include "driver/newfileentry.h"

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QString>

class ScanPath;

namespace Ui {
class DlgAddMultpleFiles;
}

// Lists several audio files at once: per file whether to process it and with
// which preset, plus one destination folder and one name suffix for all.
// Watched folders use it to offer their new files; a drop of several files
// uses it in manual mode, where "Save in original location" is offered.
class DlgAddMultpleFiles : public QDialog {
    Q_OBJECT

public:
    DlgAddMultpleFiles(QWidget* parent, bool manualMode);
    ~DlgAddMultpleFiles() override;

    // Names offered in the preset box of rows added later.
    void setPresetNames(const QList<QByteArray>& names);
    void setFolder(const ScanPath& scanPath);
    // `destination` is a full path or a file name; the row shows its path
    // relative to the save-to folder when it lies inside it (a file from a
    // subfolder of a recursive folder), else its file name.
    // `shownName` (the video a sound came from) replaces the source's file
    // name on the row; the source itself is still the one queued.
    void addRow(const QString& source, const QString& destination, const QString& proposedPreset,
                const QString& shownName = QString());

    // One entry per checked row with a preset and a name, in row order.
    QList<NewFileEntry> getResults() const;

    bool saveInOriginalLocation() const { return m_saveInOriginalLocation; }
    QString suffixText() const;
    QString saveToFolder() const { return m_saveToFolder; }
    bool dontShowAgainChecked() const;

public slots:
    void validateInput();

private slots:
    void on_btnDestBrowse_clicked();

private:
    QString saveAsText(const QString& destination) const;

    bool m_saveInOriginalLocation = false;
    const bool m_manualMode;
    int m_rowCounter = 0;
    // The last control of the newest row, after which the next row goes in
    // the tab order.
    QWidget* m_lastRowControl = nullptr;
    QList<QByteArray> m_presetNames;
    QString m_sourceFolder;
    QString m_saveToFolder;
    Ui::DlgAddMultpleFiles* ui;
};
