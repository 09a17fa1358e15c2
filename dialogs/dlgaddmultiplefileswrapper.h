#pragma once

#include "driver/folderkey.h"
#include "driver/newfileentry.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

class DlgAddMultpleFiles;
class QWidget;
class ScanPath;

// Collects the new files of one watched folder for its new-files dialog:
// rows wait while no dialog is open, the dialog is shown without blocking,
// and its answer is kept until the main window collects it.
// Lock order: state lock, then row lock. Neither is held while the user
// looks at the dialog.
class dlgAddMultipleFiles_Wrapper : public QObject {
    Q_OBJECT

public:
    explicit dlgAddMultipleFiles_Wrapper(QObject* parent = nullptr);
    ~dlgAddMultipleFiles_Wrapper() override;

    void setFolder(const ScanPath& scanPath);
    QString folderKey() const;
    void setPresetNames(const QList<QByteArray>& names);

    // Adds a row to the open dialog at once, or keeps it pending.
    void addFile(const QString& source, const QString& destination, const QString& preset);
    bool hasPendingFiles() const;
    // Opens the dialog with the pending rows; false while a dialog is open,
    // while the previous answer has not been collected, or with no rows.
    bool show(QWidget* parent, const ScanPath& scanPath);
    bool isOpen() const;

    bool takeResultsReady();
    QList<NewFileEntry> takeResults();
    bool wasAccepted() const;
    bool showAgain() const;
    QString suffixText() const;
    // The folder the answered dialog saves into.
    QString saveToFolder() const;
    // The preset chosen for more than 80 % of the selected results.
    bool dominantPreset(QString& preset) const;

    // The open dialog, for callers that drive it (tests, the main window).
    DlgAddMultpleFiles* dialog() const;

public slots:
    void dialog_closed(int result);

private:
    QString m_folderKey = QStringLiteral("noID");
    QList<QByteArray> m_presetNames;
    QList<NewFileEntry> m_results;
    QList<NewFileEntry> m_pendingRows;
    bool m_accepted = false;
    bool m_open = false;
    bool m_resultsReady = false;
    bool m_collected = true;
    bool m_showAgain = true;
    QString m_suffixText;
    QString m_saveToFolder;
    mutable QMutex m_rowLock;
    mutable QMutex m_stateLock;
    QPointer<QWidget> m_parent;
    bool m_minimizeParentAfterClose = false;
    QPointer<DlgAddMultpleFiles> m_dialog;
};
