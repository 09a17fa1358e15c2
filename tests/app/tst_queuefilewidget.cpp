#include "app/queuefilewidget.h"

#include <QAccessible>
#include <QHelpEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>

// The queue panel: its fixed heights in a real layout, the colour blend, the
// click reports and the context menu the main window's answer describes.
class TestQueueFileWidget : public QObject {
    Q_OBJECT

private slots:
    void heightsInALayout_data();
    void heightsInALayout();
    void backgroundBlendsWithThePalette();
    void clicksAreReportedWithButtonAndKind();
    void contextMenuFollowsTheAnswer();
    void refusedContextMenuBuildsNothing();
    void outputsAreOnePerLine();
    void recordLinesSurviveDirectSetters();
    void buttonsMoveAndRemove();
    void disabledOrHiddenButtonsDoNothing();
    void paintsLinesAndButtonsInTheirColours();
    void styleSheetSetsTheColours();
    void toolTipsNameButtonsAndCutLines();
    void descriptionFollowsTheShownLines();
};

namespace {

using Part = QueueFileWidget::Part;

QPoint centreOf(const QueueFileWidget& widget, Part part)
{
    return widget.rectOf(part).center();
}

// The panel at a queue panel's size with every part laid out, on screen.
bool showFullPanel(QueueFileWidget& widget)
{
    widget.resize(330, 170);
    widget.showFull();
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

} // namespace

void TestQueueFileWidget::heightsInALayout_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("outputsShown");
    QTest::addColumn<bool>("errorShown");
    QTest::newRow("full") << 0 << 170 << false << true;
    QTest::newRow("done, one output") << 1 << 68 << false << false;
    QTest::newRow("done, several outputs") << 2 << 68 << true << false;
    QTest::newRow("error") << 3 << 100 << false << true;
}

void TestQueueFileWidget::heightsInALayout()
{
    QFETCH(int, form);
    QFETCH(int, height);
    QFETCH(bool, outputsShown);
    QFETCH(bool, errorShown);

    QWidget list;
    auto* column = new QVBoxLayout(&list);
    column->setAlignment(Qt::AlignTop);
    auto* widget = new QueueFileWidget(2000, &list);
    column->addWidget(widget);
    if (form == 0)
        widget->showFull();
    else if (form == 3)
        widget->showCompact(true, false);
    else
        widget->showCompact(false, form == 2);
    list.resize(500, 600);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    QCOMPARE(widget->height(), height);
    QCOMPARE(widget->sizeHint(), QSize(330, height));
    QVERIFY(widget->width() > 330); // expands horizontally
    QCOMPARE(widget->isShown(Part::Outputs), outputsShown);
    QCOMPARE(widget->isShown(Part::Error), errorShown);
    QVERIFY(widget->isShown(Part::Source));
    QVERIFY(widget->isShown(Part::Destination));
    for (Part part : {Part::Status, Part::Priority, Part::Progress, Part::RemoveButton, Part::MoveDownButton,
                      Part::MoveUpButton, Part::Debug})
        QCOMPARE(widget->isShown(part), form == 0);
    // Every shown line lies inside the panel, below the one before it.
    int bottom = 0;
    for (Part line : {Part::Progress, Part::Source, Part::Destination, Part::Outputs, Part::Error}) {
        const QRect area = widget->rectOf(line);
        QCOMPARE(area.isEmpty(), !widget->isShown(line));
        if (area.isEmpty())
            continue;
        QVERIFY(area.top() > bottom);
        QVERIFY(area.left() >= 0 && area.right() < widget->width());
        bottom = area.bottom();
    }
    QVERIFY(bottom < widget->height());
}

void TestQueueFileWidget::backgroundBlendsWithThePalette()
{
    QueueFileWidget widget(1);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, QColor(50, 60, 70));
    widget.setPalette(palette);

    widget.setBackground(true, 0, 0, 0);
    QCOMPARE(widget.background(), QColor((50 + 250) / 2, (60 + 250) / 2, (70 + 255) / 2));
    widget.setBackground(false, 210, 240, 210);
    QCOMPARE(widget.background(), QColor(130, 150, 140));
    // Done and Error tints stay apart on a light palette too.
    palette.setColor(QPalette::Window, QColor(250, 250, 250));
    widget.setPalette(palette);
    widget.setBackground(false, 240, 210, 210);
    QCOMPARE(widget.background(), QColor(245, 230, 230));
    widget.setBackground(false, 300, -5, 0);
    QCOMPARE(widget.background(), QColor(252, 125, 125));

    QCOMPARE(widget.statusColour(), QColor(Qt::black));
    widget.setStatusColour(QStringLiteral("red"));
    QCOMPARE(widget.statusColour(), QColor(255, 0, 0));
}

void TestQueueFileWidget::clicksAreReportedWithButtonAndKind()
{
    QueueFileWidget widget(2001);
    widget.resize(330, 170);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QSignalSpy clicks(&widget, &QueueFileWidget::queueFileClick);

    // A free spot between the arrow buttons and the debug text.
    const QPoint free(widget.width() / 2, widget.rectOf(Part::MoveUpButton).center().y());
    QTest::mousePress(&widget, Qt::LeftButton, {}, free);
    QTest::mouseDClick(&widget, Qt::LeftButton, {}, centreOf(widget, Part::Source));
    QTest::mousePress(&widget, Qt::RightButton, {}, centreOf(widget, Part::Status));
    QTest::mousePress(&widget, Qt::MiddleButton, {}, free);
    QTest::mousePress(&widget, Qt::LeftButton, {}, centreOf(widget, Part::Debug));

    QCOMPARE(clicks.size(), 3);
    QCOMPARE(clicks.at(0), (QVariantList{2001, 1, false}));
    QCOMPARE(clicks.at(1), (QVariantList{2001, 1, true}));
    QCOMPARE(clicks.at(2), (QVariantList{2001, 2, false}));
}

void TestQueueFileWidget::contextMenuFollowsTheAnswer()
{
    QueueFileWidget widget(2002);
    connect(&widget, &QueueFileWidget::queueFileContextMenuShow, this,
            [](QueueFileWidget* sender, int fileID, bool& show) {
                QCOMPARE(fileID, 2002);
                sender->showPauseResume = false;
                sender->showOpenOutput = true;
                sender->showReSubmit = true;
                sender->textReSubmit = QStringLiteral("Submit again");
                sender->textRemove = QStringLiteral("Remove from list");
                show = true;
            });
    const std::unique_ptr<QMenu> menu = widget.requestContextMenu();
    QVERIFY(menu);
    QStringList items;
    for (QAction* action : menu->actions())
        items << (action->isSeparator() ? QStringLiteral("|") : action->text() + "=" + action->data().toString());
    QCOMPARE(items, (QStringList{"Go to processed audio=mnuOpenOutput", "Go to source audio=mnuOpenInput", "|",
                                 "Submit again=mnuReSubmit", "|", "Remove from list=mnuRemove"}));
}

void TestQueueFileWidget::refusedContextMenuBuildsNothing()
{
    QueueFileWidget widget(2003);
    connect(&widget, &QueueFileWidget::queueFileContextMenuShow, this,
            [](QueueFileWidget*, int, bool& show) { show = false; });
    QVERIFY(!widget.requestContextMenu());
}

void TestQueueFileWidget::outputsAreOnePerLine()
{
    QueueFileWidget widget(2004);
    widget.setOutputs({QStringLiteral("/out/a -16 lufs.wav"), QStringLiteral("/out/a -23 dbrms.wav")});
    QCOMPARE(widget.text(Part::Outputs), QStringLiteral("/out/a -16 lufs.wav\n/out/a -23 dbrms.wav\n"));
}

// The tick hands the record's lines on every pass and the widget skips
// unchanged ones; a line a setter changed in between must still come back
// from the record.
void TestQueueFileWidget::recordLinesSurviveDirectSetters()
{
    QueueFileWidget widget(7, nullptr);
    widget.followRecord("Error", "Uploading", "Invalid preset");
    QCOMPARE(widget.text(Part::Error), QStringLiteral("Invalid preset"));
    widget.setErrorText(QString());
    widget.setStatusText(QStringLiteral("Status"));
    widget.followRecord("Error", "Uploading", "Invalid preset");
    QCOMPARE(widget.text(Part::Error), QStringLiteral("Invalid preset"));
    QCOMPARE(widget.text(Part::Status), QStringLiteral("Error"));
    widget.followRecord("Running", QByteArray("Processing \xc3\xa9t\xc3\xa9 40%"), QByteArray());
    QCOMPARE(widget.text(Part::Progress), QStringLiteral("Processing \u00e9t\u00e9 40%"));
    QVERIFY(widget.text(Part::Error).isEmpty());
}

// The arrows ask to move the file; the close button does what the menu's
// remove item does, only where the main window's answer offers it. Buttons
// take left clicks for themselves and report no panel click.
void TestQueueFileWidget::buttonsMoveAndRemove()
{
    QueueFileWidget widget(2005);
    QVERIFY(showFullPanel(widget));
    bool offered = true;
    bool removable = true;
    connect(&widget, &QueueFileWidget::queueFileContextMenuShow, this,
            [&](QueueFileWidget* sender, int, bool& show) {
                sender->showRemove = removable;
                show = offered;
            });
    QSignalSpy moves(&widget, &QueueFileWidget::queueFileMoveRequested);
    QSignalSpy chosen(&widget, &QueueFileWidget::queueFileContextMenuClicked);
    QSignalSpy clicks(&widget, &QueueFileWidget::queueFileClick);

    QTest::mouseClick(&widget, Qt::LeftButton, {}, centreOf(widget, Part::MoveUpButton));
    QTest::mouseClick(&widget, Qt::LeftButton, {}, centreOf(widget, Part::MoveDownButton));
    // A double click is two clicks: press, release, double click, release.
    QTest::mouseClick(&widget, Qt::LeftButton, {}, centreOf(widget, Part::MoveUpButton));
    QTest::mouseDClick(&widget, Qt::LeftButton, {}, centreOf(widget, Part::MoveUpButton));
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, centreOf(widget, Part::MoveUpButton));
    QCOMPARE(moves.size(), 4);
    QCOMPARE(moves.at(0), (QVariantList{2005, -1}));
    QCOMPARE(moves.at(1), (QVariantList{2005, 1}));
    QCOMPARE(moves.at(3), (QVariantList{2005, -1}));
    // Pressed on a button and released elsewhere: no click.
    QTest::mousePress(&widget, Qt::LeftButton, {}, centreOf(widget, Part::MoveUpButton));
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, centreOf(widget, Part::Source));
    QCOMPARE(moves.size(), 4);

    QTest::mouseClick(&widget, Qt::LeftButton, {}, centreOf(widget, Part::RemoveButton));
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.at(0).at(2).toString(), QStringLiteral("mnuRemove"));
    removable = false;
    QTest::mouseClick(&widget, Qt::LeftButton, {}, centreOf(widget, Part::RemoveButton));
    removable = true;
    offered = false;
    QTest::mouseClick(&widget, Qt::LeftButton, {}, centreOf(widget, Part::RemoveButton));
    QCOMPARE(chosen.size(), 1);
    QVERIFY(clicks.isEmpty());
    // The right button is the panel's, as on a tool button.
    QTest::mousePress(&widget, Qt::RightButton, {}, centreOf(widget, Part::MoveUpButton));
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.at(0), (QVariantList{2005, 2, false}));
}

void TestQueueFileWidget::disabledOrHiddenButtonsDoNothing()
{
    QueueFileWidget widget(2006);
    QVERIFY(showFullPanel(widget));
    connect(&widget, &QueueFileWidget::queueFileContextMenuShow, this,
            [](QueueFileWidget*, int, bool& show) { show = true; });
    QSignalSpy moves(&widget, &QueueFileWidget::queueFileMoveRequested);
    QSignalSpy chosen(&widget, &QueueFileWidget::queueFileContextMenuClicked);
    QSignalSpy clicks(&widget, &QueueFileWidget::queueFileClick);
    const QPoint up = centreOf(widget, Part::MoveUpButton);

    widget.setQueueControlsEnabled(false);
    QTest::mouseClick(&widget, Qt::LeftButton, {}, up);
    QTest::mouseClick(&widget, Qt::LeftButton, {}, centreOf(widget, Part::RemoveButton));
    QVERIFY(moves.isEmpty() && chosen.isEmpty());
    QCOMPARE(clicks.size(), 2); // a disabled button is part of the panel

    // Disabled between press and release: the click is lost.
    widget.setQueueControlsEnabled(true);
    QTest::mousePress(&widget, Qt::LeftButton, {}, up);
    widget.setQueueControlsEnabled(false);
    widget.setQueueControlsEnabled(true);
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, up);
    QVERIFY(moves.isEmpty());

    widget.showCompact(false, false);
    widget.resize(330, 68);
    QVERIFY(widget.rectOf(Part::MoveUpButton).isEmpty());
    QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(17, 60));
    QVERIFY(moves.isEmpty());
}

namespace {

// Pixels of `image` inside `area` that are close to `colour`.
int pixelsLike(const QImage& image, const QRect& area, const QColor& colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green())
                    + std::abs(pixel.blue() - colour.blue())
                < 60)
                ++count;
        }
    }
    return count;
}

} // namespace

void TestQueueFileWidget::paintsLinesAndButtonsInTheirColours()
{
    QueueFileWidget widget(2007);
    widget.resize(400, 170);
    widget.setProperty("lineBackground", QColor(20, 20, 20));
    widget.setProperty("lineText", QColor(255, 255, 255));
    widget.setProperty("statusBackground", QColor(230, 232, 240));
    widget.showFull();
    widget.setStatusText(QStringLiteral("Waiting"));
    widget.setStatusColour(QStringLiteral("blue"));
    widget.setSourceText(QStringLiteral("/music/take one.wav"));
    widget.setErrorText(QString());
    QImage image = widget.grab().toImage();

    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::darkGray));
    QCOMPARE(image.pixelColor(widget.width() - 1, widget.height() - 1), QColor(Qt::darkGray));
    QVERIFY(pixelsLike(image, widget.rectOf(Part::Status), QColor(230, 232, 240)) > 20);
    QVERIFY(pixelsLike(image, widget.rectOf(Part::Status), QColor(0, 0, 255)) > 5);
    const QRect source = widget.rectOf(Part::Source);
    QVERIFY(pixelsLike(image, source, QColor(20, 20, 20)) > source.width());
    QVERIFY(pixelsLike(image, source, QColor(255, 255, 255)) > 5);
    // An empty line is not painted: the gradient shows through.
    QCOMPARE(pixelsLike(image, widget.rectOf(Part::Error), QColor(20, 20, 20)), 0);
    for (Part button : {Part::RemoveButton, Part::MoveDownButton, Part::MoveUpButton})
        QVERIFY(pixelsLike(image, widget.rectOf(button), QColor(255, 255, 255)) > 3);

    widget.setErrorText(QStringLiteral("Invalid preset"));
    widget.showCompact(true, false);
    widget.resize(400, 100);
    image = widget.grab().toImage();
    QVERIFY(pixelsLike(image, widget.rectOf(Part::Error), QColor(255, 0, 0)) > 5);
    QCOMPARE(pixelsLike(image, QRect(0, 0, 60, 30), QColor(0, 0, 255)), 0); // no status in the compact form
}

void TestQueueFileWidget::styleSheetSetsTheColours()
{
    QWidget list;
    list.setStyleSheet(QStringLiteral("QueueFileWidget { qproperty-lineBackground: #2e2e2e; "
                                      "qproperty-buttonHoverBorder: #607cff; }"));
    auto* widget = new QueueFileWidget(2008, &list);
    widget->ensurePolished();
    QCOMPARE(widget->property("lineBackground").value<QColor>(), QColor(0x2e, 0x2e, 0x2e));
    QCOMPARE(widget->property("buttonHoverBorder").value<QColor>(), QColor(0x60, 0x7c, 0xff));
}

void TestQueueFileWidget::toolTipsNameButtonsAndCutLines()
{
    QueueFileWidget widget(2009);
    widget.resize(200, 170);
    widget.showFull();
    const QString longPath = QStringLiteral("/music/") + QString(60, QLatin1Char('x')) + QStringLiteral(".wav");
    widget.setSourceText(longPath);
    widget.setDestinationText(QStringLiteral("/out/a.wav"));
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    const auto tipAt = [&](Part part) {
        const QPoint at = centreOf(widget, part);
        QHelpEvent help(QEvent::ToolTip, at, widget.mapToGlobal(at));
        QCoreApplication::sendEvent(&widget, &help);
        return help.isAccepted() ? QToolTip::text() : QString();
    };
    QCOMPARE(tipAt(Part::MoveUpButton), QStringLiteral("Move up in the queue"));
    QCOMPARE(tipAt(Part::Source), longPath);
    QCOMPARE(tipAt(Part::Destination), QString());
}

// A screen reader reads the lines the panel shows: the finished form drops
// the progress line and shows the outputs.
void TestQueueFileWidget::descriptionFollowsTheShownLines()
{
    QueueFileWidget widget(11);
    widget.showFull();
    widget.setProgressText(QStringLiteral("Post processing started"));
    widget.setSourceText(QStringLiteral("/in/a.wav"));
    widget.setDestinationText(QStringLiteral("/out/a.wav"));
    widget.setOutputs({QStringLiteral("/out/a.mp3")});
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(&widget);
    QVERIFY(item->text(QAccessible::Description).startsWith(QStringLiteral("Post processing started\n")));

    widget.showCompact(false, true);
    QCOMPARE(item->text(QAccessible::Description),
             QStringLiteral("Source: /in/a.wav\nDestination: /out/a.wav\n/out/a.mp3"));
}

QTEST_MAIN(TestQueueFileWidget)
#include "tst_queuefilewidget.moc"
