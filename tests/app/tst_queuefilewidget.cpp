#include "app/qclickablelabel.h"
#include "app/queuefilewidget.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTest>
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
};

namespace {

QClickableLabel* label(QueueFileWidget& widget, const char* name)
{
    return widget.findChild<QClickableLabel*>(QString::fromLatin1(name));
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
    QCOMPARE(label(*widget, "lblOutputs")->isVisible(), outputsShown);
    QCOMPARE(label(*widget, "lblError")->isVisible(), errorShown);
    QVERIFY(label(*widget, "lblSource")->isVisible());
    QVERIFY(label(*widget, "lblDestination")->isVisible());
    QCOMPARE(label(*widget, "lblStatus")->isVisible(), form == 0);
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

    widget.setStatusColour(QStringLiteral("red"));
    QCOMPARE(label(widget, "lblStatus")->styleSheet(), QStringLiteral("QLabel { color : red; }"));
}

void TestQueueFileWidget::clicksAreReportedWithButtonAndKind()
{
    QueueFileWidget widget(2001);
    widget.resize(330, 170);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QSignalSpy clicks(&widget, &QueueFileWidget::queueFileClick);

    QTest::mousePress(&widget, Qt::LeftButton, {}, QPoint(320, 160));
    QTest::mouseDClick(label(widget, "lblSource"), Qt::LeftButton);
    QTest::mousePress(label(widget, "lblStatus"), Qt::RightButton);
    QTest::mousePress(&widget, Qt::MiddleButton, {}, QPoint(320, 160));
    QTest::mousePress(label(widget, "lblDebug"), Qt::LeftButton);

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
    QCOMPARE(label(widget, "lblOutputs")->text(), QStringLiteral("/out/a -16 lufs.wav\n/out/a -23 dbrms.wav\n"));
}

// The tick hands the record's lines on every pass and the widget skips
// unchanged ones; a line a setter changed in between must still come back
// from the record.
void TestQueueFileWidget::recordLinesSurviveDirectSetters()
{
    QueueFileWidget widget(7, nullptr);
    widget.followRecord("Error", "Uploading", "Invalid preset");
    QCOMPARE(label(widget, "lblError")->text(), QStringLiteral("Invalid preset"));
    widget.setErrorText(QString());
    widget.setStatusText(QStringLiteral("Status"));
    widget.followRecord("Error", "Uploading", "Invalid preset");
    QCOMPARE(label(widget, "lblError")->text(), QStringLiteral("Invalid preset"));
    QCOMPARE(label(widget, "lblStatus")->text(), QStringLiteral("Error"));
    widget.followRecord("Running", QByteArray("Processing \xc3\xa9t\xc3\xa9 40%"), QByteArray());
    QCOMPARE(label(widget, "lblProgress")->text(), QStringLiteral("Processing \u00e9t\u00e9 40%"));
    QVERIFY(label(widget, "lblError")->text().isEmpty());
}

QTEST_MAIN(TestQueueFileWidget)
#include "tst_queuefilewidget.moc"
