#pragma once

#include <QString>
#include <QWizard>

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QTreeView;
class QVBoxLayout;
class QWizardPage;
class Account;

// Five pages that set up one watched folder: a first page that waits for the
// service's presets, the folder to watch, the folder for the results, the
// default preset and a summary. In welcome mode (first start) the first
// page welcomes the user and offers "Don't show this again". The wizard
// only collects the three values; its caller creates the folder record.
class dlgAddNewFolderWizard : public QWizard {
    Q_OBJECT

public:
    explicit dlgAddNewFolderWizard(bool welcomeMode, QWidget* parent = nullptr);

    // The presets are taken from here as soon as it has any (polled every
    // 100 ms); until then the first page cannot be left.
    void setAccount(const Account* account);

    bool validateCurrentPage() override;

    // In native separators; empty until their pages have been left.
    QString inputFolder() const;
    QString outputFolder() const;
    QString preset() const { return m_preset; }
    // False only when "Don't show this again" (welcome mode) is checked.
    bool showAgain() const;

private:
    enum PageId { StartPage, InputPage, OutputPage, PresetPage, FinishedPage };

    QVBoxLayout* pageLayout(QWizardPage* page);
    void addStartPage(bool welcomeMode);
    QTreeView* addFolderPage(PageId id, const QString& title, const QString& subTitle);
    void addPresetPage();
    void pollPresets();
    bool takeSelectedFolder(QTreeView* tree, QString& folder);
    QString summary() const;

    QFileSystemModel* folders = nullptr;
    QTreeView* inputTree = nullptr;
    QTreeView* outputTree = nullptr;
    QComboBox* cmbPreset = nullptr;
    QLabel* lblStatus = nullptr;
    QCheckBox* chkDontShowAgain = nullptr;
    // As the folder trees report them (forward slashes).
    QString m_inputFolder;
    QString m_outputFolder;
    QString m_preset;
    const Account* account = nullptr;
    bool presetsReady = false;
};
