#pragma once

#include "settings/scanpath.h"

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QTimer>

#include <functional>

class Account;
class Settings;
class scanPathWidget;

namespace Ui {
class dlgSetupWindow;
}

// The "Setup" window: general settings, the account and the watched
// folders, one scanPathWidget panel per folder. OK validates the folders
// and keeps the edited values for the caller, which stores them (applyTo,
// applyCredentials). Only "Log out" acts at once, on the account and the
// stored password, whether the window is accepted or not.
class dlgSetupWindow : public QDialog {
    Q_OBJECT

public:
    explicit dlgSetupWindow(QWidget* parent = nullptr);
    ~dlgSetupWindow() override;

    // Shows the settings and one panel per stored watched folder (renumbered
    // 1..n first). presetNames are the presets the service offers; with none
    // known, any preset passes validation.
    void setContext(Settings* settings, const QList<QByteArray>& presetNames, Account* account);

    // Tells whether a folder holds a working ffmpeg; the window runs it on
    // the ffmpeg folder when it opens and after "Browse...". Set it before
    // setContext; without one the folder is shown as not found.
    using CodecCheck = std::function<bool(const QString& folder)>;
    void setCodecCheck(CodecCheck check) { codecCheck = std::move(check); }
    // Why a watched folder is polled instead of watched (empty when it is
    // watched); each panel shows it. Set it before setContext.
    using WatchWarning = std::function<QString(const QString& folder)>;
    void setWatchWarning(WatchWarning warning) { watchWarning = std::move(warning); }

    // The values of the last successful OK.
    QList<ScanPath> results() const { return resultList; }
    QByteArray username() const { return m_username; }
    QByteArray password() const { return m_password; }
    bool resetOnRestart() const { return m_resetOnRestart; }
    QByteArray ffmpegFolder() const { return m_ffmpegFolder; }
    bool hideWhenClosed() const;

    // What the caller stores after an accepted run, in this order: the
    // watched folders, hideWhenClosed, resetOnRestart and FFMPEGPath ...
    void applyTo(Settings& settings) const;
    // ... then, when the user name or password changed, both, stored and
    // tried by the account. Tells whether they changed.
    bool applyCredentials(Account& account) const;

public slots:
    void accept() override;

private slots:
    void on_btnAddNewPath_clicked();
    void on_btnLogOut_clicked();
    void btnDelete_clicked(scanPathWidget* sender, int widgetID, int spcID);
    void on_chkShowPassword_stateChanged(int state);
    // Checking "Reset settings" says what it resets and asks first.
    void on_chkReset_clicked(bool checked);
    void on_btnBrowseCodec_clicked();

private:
    struct Panel {
        scanPathWidget* widget = nullptr;
        bool deleted = false;
    };

    void addPanel(const ScanPath& record);
    // Panels are added after the form was built: their controls go in the
    // tab order after those of the panels above, before "Add new folder".
    void placeInTabOrder(scanPathWidget* panel);
    // Reads every panel that is not deleted into resultList, stopping at the
    // first folder that fails its checks; false then, with the warning shown.
    bool readPanels();
    // Refuses duplicate folders; collects the folders watched more than once
    // where one of them replaces the original file.
    bool checkPairs(QString& replaceNotes);
    bool confirmUnwritableOutputs();
    void askAboutNewInputFolders();
    // Shows a validation message; a folder's panel is scrolled into view.
    void validationError(const QString& text, QWidget* panel = nullptr);
    QWidget* panelOf(int recordId) const;
    void runCodecCheck();

    QList<ScanPath> resultList;
    QByteArray m_username;
    QByteArray m_password;
    bool m_resetOnRestart = false;
    QByteArray m_ffmpegFolder;
    Ui::dlgSetupWindow* ui;
    QList<QByteArray> presetNames;
    Settings* settings = nullptr;
    Account* account = nullptr;
    QList<Panel> panels;
    QList<ScanPath> newRecords;
    int nextNewId = 1;
    bool passwordRevealed = false;
    QWidget* lastPanelControl = nullptr;
    CodecCheck codecCheck;
    WatchWarning watchWarning;
    QTimer codecRecheck;
};
