#include "app/welcomewizard.h"

#include "dialogs/dlgaddnewfolderwizard.h"
#include "dialogs/existingfiles.h"
#include "settings/settings.h"

bool showWelcomeWizardIfFirstStart(QWidget* parent, Settings& settings, const Account& account)
{
    if (!settings.scanPaths().isEmpty() || !settings.showFirstTime_AddWatchFolderDialog)
        return false;
    dlgAddNewFolderWizard wizard(true, parent);
    wizard.setAccount(&account);
    if (wizard.exec() == QDialog::Accepted) {
        ScanPath folder;
        folder.path = wizard.inputFolder();
        folder.outputPath = wizard.outputFolder();
        folder.preset = wizard.preset().toUtf8();
        askAboutExistingFiles(parent, folder);
        settings.addScanPath(folder);
    } else {
        settings.showFirstTime_AddWatchFolderDialog = wizard.showAgain();
    }
    return true;
}
