#include "app/newfilesdialogs.h"

#include "dialogs/dlgaddmultiplefileswrapper.h"
#include "driver/folderkey.h"
#include "settings/platform.h"
#include "settings/settings.h"

NewFilesDialogs::NewFilesDialogs(Settings* settings, QWidget* window)
    : m_settings(settings), m_window(window)
{
}

NewFilesDialogs::~NewFilesDialogs() = default;

void NewFilesDialogs::offer(const ScanPath& folder, const QString& file, const QString& destination,
                            const QList<QByteArray>& presets)
{
    dlgAddMultipleFiles_Wrapper& wrapper = dialogFor(folder);
    wrapper.setPresetNames(presets);
    wrapper.addFile(file, destination, QString::fromUtf8(folder.preset));
}

QList<NewFilesAnswer> NewFilesDialogs::takeAnswers()
{
    QList<NewFilesAnswer> answers;
    for (const auto& wrapper : m_dialogs) {
        if (!wrapper->takeResultsReady())
            continue;
        NewFilesAnswer answer;
        answer.folderKey = wrapper->folderKey();
        answer.entries = wrapper->takeResults();
        if (!wrapper->wasAccepted())
            continue;
        wrapper->dominantPreset(answer.dominantPreset);
        answer.showAgain = wrapper->showAgain();
        answer.saveToFolder = wrapper->saveToFolder();
        answers.append(answer);
    }
    return answers;
}

dlgAddMultipleFiles_Wrapper& NewFilesDialogs::dialogFor(const ScanPath& folder)
{
    const QString key = folder.duplicateKey();
    for (const auto& wrapper : m_dialogs) {
        if (sameFolderKey(wrapper->folderKey(), key))
            return *wrapper;
    }
    m_dialogs.push_back(std::make_unique<dlgAddMultipleFiles_Wrapper>());
    m_dialogs.back()->setFolder(folder);
    return *m_dialogs.back();
}

const ScanPath* NewFilesDialogs::folderOfDialog(const QString& folderKey) const
{
    const QList<ScanPath>& folders = m_settings->scanPathRecords();
    for (const ScanPath& folder : folders) {
        if (sameFolderKey(folder.duplicateKey(), folderKey))
            return &folder;
    }
    // The folder's preset may have changed since the rows were collected.
    const FolderKeyParts key = splitFolderKey(folderKey);
    for (const ScanPath& folder : folders) {
        if (folder.showDialog && platform::isSamePath(folder.path, key.path))
            return &folder;
    }
    return nullptr;
}

void NewFilesDialogs::showOffers()
{
    for (const auto& wrapper : m_dialogs) {
        if (!wrapper->hasPendingFiles())
            continue;
        if (const ScanPath* folder = folderOfDialog(wrapper->folderKey()))
            wrapper->show(m_window, *folder);
    }
}
