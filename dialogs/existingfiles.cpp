#include "dialogs/existingfiles.h"

#include "settings/scanpath.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>

void askAboutExistingFiles(QWidget* parent, ScanPath& folder)
{
    const QStringList files = folder.listInputFiles();
    if (files.isEmpty())
        return;
    const auto tr = [](const char* text) { return QCoreApplication::translate("askAboutExistingFiles", text); };
    QMessageBox box(QMessageBox::Question, tr("Files already in the folder"),
                    tr("The folder %1 already holds %2 audio or video files.")
                        .arg(QDir::toNativeSeparators(folder.path))
                        .arg(files.size()),
                    QMessageBox::NoButton, parent);
    QPushButton* now = box.addButton(tr("Process them now"), QMessageBox::AcceptRole);
    QPushButton* later = box.addButton(tr("Only files added from now on"), QMessageBox::RejectRole);
    // Nothing is charged unless the user says so.
    box.setDefaultButton(later);
    box.setEscapeButton(later);
    box.exec();
    if (box.clickedButton() == now)
        return;
    for (const QString& file : files)
        folder.notePlaceholder(file);
}
