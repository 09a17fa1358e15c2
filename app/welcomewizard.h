#pragma once

class QWidget;
class Account;
class Settings;

// First start: while no folder is watched and showFirstTime_AddWatchFolderDialog
// is set, the watch-folder wizard runs in welcome mode. An accepted wizard
// adds its folder to the settings; otherwise its "Don't show this again"
// choice becomes the setting, which is written at exit. Tells whether the
// wizard ran.
bool showWelcomeWizardIfFirstStart(QWidget* parent, Settings& settings, const Account& account);
