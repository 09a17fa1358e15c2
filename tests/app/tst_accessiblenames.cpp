#include "windowtest.h"

#include "app/welcomewizard.h"
#include "dialogs/dlgaddfile.h"
#include "dialogs/dlgaddmultplefiles.h"
#include "dialogs/dlgaddnewfolderwizard.h"
#include "dialogs/dlgencoder.h"
#include "dialogs/dlglogin.h"
#include "dialogs/dlgloudness.h"
#include "dialogs/dlgsetupwindow.h"
#include "settings/scanpath.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QStackedWidget>
#include <QTest>
#include <QWizard>
#include <QWizardPage>

// Every window and dialog of the client, walked as a screen reader meets
// it: the window must have a title, and each control that takes the
// keyboard focus must carry a name of its own (a text with a letter or digit, its accessible name, or a label tied
// to it as its buddy). A "..." button or an unlabelled field fails.
class TestAccessibleNames : public WindowTest {
    Q_OBJECT

public:
    TestAccessibleNames() : WindowTest(Start::LoggedOut) {}

private slots:
    void everyFocusableControlIsNamed();
};

namespace {

bool meaningful(QString text)
{
    text.remove(QLatin1Char('&'));
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.isLetterOrNumber(); });
}

bool hasName(QWidget& widget)
{
    if (meaningful(widget.accessibleName()))
        return true;
    if (auto* button = qobject_cast<QAbstractButton*>(&widget))
        return meaningful(button->text());
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(&widget);
    if (!node)
        return false;
    // A combo box's name falls back to its current item on Linux: that is
    // no name. Others (a queue panel) name themselves.
    if (!qobject_cast<QComboBox*>(&widget) && meaningful(node->text(QAccessible::Name)))
        return true;
    const auto labels = node->relations(QAccessible::Label);
    return std::any_of(labels.cbegin(), labels.cend(),
                       [](const auto& label) { return meaningful(label.first->text(QAccessible::Name)); });
}

// Shown when its window is: hidden only as a page of a stack or a wizard
// that shows one page at a time.
bool shownWith(QWidget& widget, QWidget& window)
{
    for (QWidget* w = &widget; w && w != &window; w = w->parentWidget()) {
        const bool page = qobject_cast<QWizardPage*>(w) || qobject_cast<QStackedWidget*>(w->parentWidget());
        if (w->isHidden() && !page)
            return false;
    }
    return true;
}

QStringList unnamedControls(QWidget& window)
{
    QStringList unnamed;
    if (!meaningful(window.windowTitle()))
        unnamed << QString::fromLatin1(window.metaObject()->className()) + QStringLiteral(" has no window title");
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        // A spin box's or combo box's own edit field is part of it.
        const QWidget* parent = widget->parentWidget();
        const bool part = qobject_cast<const QAbstractSpinBox*>(parent) || qobject_cast<const QComboBox*>(parent);
        if (part || !(widget->focusPolicy() & Qt::TabFocus) || !shownWith(*widget, window) || hasName(*widget))
            continue;
        unnamed << window.objectName() + QLatin1Char('/') + QString::fromLatin1(widget->metaObject()->className())
                       + QLatin1Char(' ') + widget->objectName() + QStringLiteral(" in ")
                       + QString::fromLatin1(parent->metaObject()->className());
    }
    return unnamed;
}

ScanPath watchedFolder(const QString& folder)
{
    ScanPath record;
    record.path = QDir::toNativeSeparators(folder);
    record.preset = "1: Speech";
    return record;
}

} // namespace

void TestAccessibleNames::everyFocusableControlIsNamed()
{
    const QList<QByteArray> presets{"1: Speech", "2: Music"};
    const QString take = wav("take.wav");
    client->queue(take, dir->filePath("out.wav"));
    client->tick();
    QStringList unnamed = unnamedControls(*client->window);

    dlgLogin login;
    login.setContext(&client->settings, &client->account, false);
    unnamed << unnamedControls(login);

    dlgAddFile addFile;
    addFile.setContext(take, dir->filePath("out.wav"), presets, QByteArray());
    unnamed << unnamedControls(addFile);

    for (const bool manual : {true, false}) {
        DlgAddMultpleFiles newFiles(nullptr, manual);
        newFiles.setPresetNames(presets);
        newFiles.setFolder(watchedFolder(dir->path()));
        newFiles.addRow(take, dir->filePath("take-out.wav"), QStringLiteral("2: Music"));
        unnamed << unnamedControls(newFiles);
    }

    client->settings.addScanPath(watchedFolder(dir->path()));
    dlgSetupWindow setup;
    setup.setContext(&client->settings, presets, &client->account);
    unnamed << unnamedControls(setup);

    for (const bool welcome : {true, false}) {
        dlgAddNewFolderWizard wizard(welcome);
        wizard.setAccount(&client->account);
        unnamed << unnamedControls(wizard);
    }

    dlgEncoder encoder;
    encoder.addFile(take);
    unnamed << unnamedControls(encoder);
    dlgLoudness loudness;
    loudness.add_filePath(take);
    unnamed << unnamedControls(loudness);

    QVERIFY2(unnamed.isEmpty(), qPrintable(QStringLiteral("\n") + unnamed.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestAccessibleNames)
#include "tst_accessiblenames.moc"
