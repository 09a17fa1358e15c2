#pragma once

#include "driver/newfilesoffer.h"

#include <memory>
#include <vector>

class dlgAddMultipleFiles_Wrapper;
class QWidget;
class Settings;

// The window's new-files dialogs, one per watched folder key: each collects
// the folder's offered files and is shown, without blocking, over `window`.
class NewFilesDialogs : public NewFilesOffer {
public:
    NewFilesDialogs(Settings* settings, QWidget* window);
    ~NewFilesDialogs() override;
    NewFilesDialogs(const NewFilesDialogs&) = delete;
    NewFilesDialogs& operator=(const NewFilesDialogs&) = delete;

    void offer(const ScanPath& folder, const QString& file, const QString& destination,
               const QList<QByteArray>& presets) override;
    QList<NewFilesAnswer> takeAnswers() override;
    void showOffers() override;

    const std::vector<std::unique_ptr<dlgAddMultipleFiles_Wrapper>>& dialogs() const { return m_dialogs; }

private:
    dlgAddMultipleFiles_Wrapper& dialogFor(const ScanPath& folder);
    const ScanPath* folderOfDialog(const QString& folderKey) const;

    Settings* m_settings;
    QWidget* m_window;
    std::vector<std::unique_ptr<dlgAddMultipleFiles_Wrapper>> m_dialogs;
};
