#include "app/queuefilewidget.h"

#include "app/qclickablelabel.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kIndented = QStringLiteral("QLabel { margin-left: 10px; }");

int clampChannel(int value)
{
    return std::clamp(value, 0, 255);
}

} // namespace

QueueFileWidget::QueueFileWidget(int fileID, QWidget* parent)
    : QWidget(parent), m_fileID(fileID)
{
    lblStatus = addLabel(QStringLiteral("lblStatus"), QStringLiteral("Status"),
                         QStringLiteral("QLabel { color : black; }"));
    QFont statusFont(QStringLiteral("Arial"), 11);
    statusFont.setWeight(QFont::Bold);
    lblStatus->setFont(statusFont);
    lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    lblPriority = addLabel(QStringLiteral("lblPriority"), QStringLiteral("High Priority"),
                           QStringLiteral("QLabel { color : blue; }"));
    lblPriority->setFont(QFont(QStringLiteral("Arial"), 9));
    lblPriority->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    btnRemove = new QToolButton(this);
    btnRemove->setObjectName(QStringLiteral("btnRemove"));
    btnRemove->setText(QStringLiteral("X"));
    btnRemove->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QFont bold = btnRemove->font();
    bold.setBold(true);
    btnRemove->setFont(bold);
    btnRemove->hide();

    lblProgress = addLabel(QStringLiteral("lblProgress"), QStringLiteral("Progress 43%"), kIndented);
    lblSource = addLabel(QStringLiteral("lblSource"), QStringLiteral("Source: .../input/test.wav"), kIndented);
    lblOutputs = addLabel(QStringLiteral("lblOutputs"), QStringLiteral("Additional output"), kIndented);
    lblOutputs->hide();
    lblDestination =
        addLabel(QStringLiteral("lblDestination"), QStringLiteral("Destination: .../input/test.wav"), kIndented);

    btnMoveDown = new QToolButton(this);
    btnMoveDown->setArrowType(Qt::DownArrow);
    btnMoveUp = new QToolButton(this);
    btnMoveUp->setArrowType(Qt::UpArrow);

    lblError = addLabel(QStringLiteral("lblError"), QStringLiteral("Error: Could not connect"),
                        QStringLiteral("QLabel { color : red; margin-left: 10px; }"));
    lblError->hide();
    lblDebug = addLabel(QStringLiteral("lblDebug"), QStringLiteral("Debug info"),
                        QStringLiteral("QLabel { color : gray; }"));

    topRow = new QHBoxLayout;
    topRow->addWidget(lblStatus);
    topRow->addStretch();
    topRow->addWidget(lblPriority);
    topRow->addWidget(btnRemove);
    topRow->setAlignment(Qt::AlignVCenter);

    auto* bottomRow = new QHBoxLayout;
    bottomRow->addWidget(btnMoveDown);
    bottomRow->addWidget(btnMoveUp);
    bottomRow->addStretch();
    bottomRow->addWidget(lblDebug);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 3, 6, 3);
    column->setSpacing(2);
    // The panel's height is the form's fixed height, not the labels' wish.
    column->setSizeConstraint(QLayout::SetNoConstraint);
    column->addLayout(topRow);
    column->addWidget(lblProgress);
    column->addWidget(lblSource);
    column->addWidget(lblDestination);
    column->addWidget(lblOutputs);
    column->addWidget(lblError);
    column->addLayout(bottomRow);

    for (QClickableLabel* label : {lblStatus, lblPriority, lblProgress, lblSource, lblDestination, lblError})
        connect(label, &QClickableLabel::clickedEx, this, &QueueFileWidget::freeAreaClick);

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            &QueueFileWidget::customContextMenuRequestedHandler);

    setBackground(true, 0, 0, 0);
    applySize(currentSize);
}

QClickableLabel* QueueFileWidget::addLabel(const QString& name, const QString& text, const QString& styleSheet)
{
    auto* label = new QClickableLabel(text, this);
    label->setObjectName(name);
    label->setStyleSheet(styleSheet);
    return label;
}

void QueueFileWidget::followRecord(const QByteArray& status, const QByteArray& progress, const QByteArray& error)
{
    const auto follow = [this](QLabel* label, QByteArray& shown, const QByteArray& text) {
        if (!m_recordShown || shown != text)
            label->setText(QString::fromUtf8(text));
        shown = text;
    };
    follow(lblStatus, m_recordStatus, status);
    follow(lblProgress, m_recordProgress, progress);
    follow(lblError, m_recordError, error);
    m_recordShown = true;
}

void QueueFileWidget::setStatusText(const QString& text)
{
    m_recordShown = false;
    lblStatus->setText(text);
}

void QueueFileWidget::setProgressText(const QString& text)
{
    m_recordShown = false;
    lblProgress->setText(text);
}
void QueueFileWidget::setSourceText(const QString& text) { lblSource->setText(text); }
void QueueFileWidget::setDestinationText(const QString& text) { lblDestination->setText(text); }
void QueueFileWidget::setErrorText(const QString& text)
{
    m_recordShown = false;
    lblError->setText(text);
}
void QueueFileWidget::setPriorityText(const QString& text) { lblPriority->setText(text); }
void QueueFileWidget::setDebugText(const QString& text) { lblDebug->setText(text); }

void QueueFileWidget::setOutputs(const QStringList& outputs)
{
    QString text;
    for (const QString& output : outputs)
        text += output + QLatin1Char('\n');
    lblOutputs->setText(text);
}

void QueueFileWidget::setStatusColour(const QString& name)
{
    lblStatus->setStyleSheet(QStringLiteral("QLabel { color : ") + name + QStringLiteral("; }"));
}

void QueueFileWidget::setBackground(bool useDefault, int red, int green, int blue)
{
    if (useDefault) {
        red = 250;
        green = 250;
        blue = 255;
    }
    // The average of the palette's window colour and the given tint, so Done
    // and Error panels stay distinguishable on any palette.
    const QColor window = palette().color(QPalette::Window);
    m_background = QColor((window.red() + clampChannel(red)) / 2, (window.green() + clampChannel(green)) / 2,
                          (window.blue() + clampChannel(blue)) / 2);
    update();
}

void QueueFileWidget::showFull()
{
    lblOutputs->hide();
    for (QWidget* part : std::initializer_list<QWidget*>{lblStatus, lblPriority, lblProgress, btnRemove,
                                                         lblError, lblDebug, btnMoveDown, btnMoveUp})
        part->show();
    applySize(fullSize);
}

void QueueFileWidget::showCompact(bool showError, bool showOutputs)
{
    QSize size = compactSize;
    if (showError)
        size.rheight() += kErrorLineHeight;
    lblOutputs->setVisible(showOutputs);
    lblError->setVisible(showError);
    for (QWidget* part : std::initializer_list<QWidget*>{lblStatus, lblPriority, lblProgress, btnRemove,
                                                         lblDebug, btnMoveDown, btnMoveUp})
        part->hide();
    applySize(size);
}

void QueueFileWidget::applySize(const QSize& size)
{
    currentSize = size;
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    setMaximumSize(1000000, currentSize.height());
    updateGeometry();
}

QSize QueueFileWidget::sizeHint() const
{
    return currentSize;
}

void QueueFileWidget::mousePressEvent(QMouseEvent* event)
{
    reportClick(event, false);
}

void QueueFileWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    reportClick(event, true);
}

void QueueFileWidget::reportClick(QMouseEvent* event, bool doubleClick)
{
    if (event->button() == Qt::LeftButton)
        emit queueFileClick(m_fileID, 1, doubleClick);
    else if (event->button() == Qt::RightButton)
        emit queueFileClick(m_fileID, 2, doubleClick);
}

void QueueFileWidget::freeAreaClick(int buttonN, bool doubleClick)
{
    emit queueFileClick(m_fileID, buttonN, doubleClick);
}

void QueueFileWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor window = palette().color(QPalette::Window);
    const QColor top(std::min(window.red() + 10, 255), std::min(window.green() + 10, 255),
                     std::min(window.blue() + 10, 255));
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, m_background);
    painter.fillRect(rect(), gradient);
    painter.setPen(QPen(Qt::darkGray, 1, Qt::SolidLine));
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

std::unique_ptr<QMenu> QueueFileWidget::requestContextMenu()
{
    bool show = true;
    emit queueFileContextMenuShow(this, m_fileID, show);
    if (!show)
        return nullptr;
    auto menu = std::make_unique<QMenu>();
    auto addItem = [&menu](bool shown, const QString& text, const char* name, bool separated) {
        if (!shown)
            return;
        if (separated)
            menu->addSeparator();
        menu->addAction(text)->setData(QString::fromLatin1(name));
    };
    addItem(showPauseResume, textPauseResume, "mnuPauseResume", false);
    addItem(showOpenOutput, textOpenOutput, "mnuOpenOutput", false);
    addItem(showOpenInput, textOpenInput, "mnuOpenInput", false);
    addItem(showReSubmit, textReSubmit, "mnuReSubmit", true);
    addItem(showRemove, textRemove, "mnuRemove", true);
    return menu;
}

void QueueFileWidget::customContextMenuRequestedHandler(QPoint pos)
{
    const std::unique_ptr<QMenu> menu = requestContextMenu();
    if (!menu)
        return;
    if (QAction* chosen = menu->exec(mapToGlobal(pos)))
        emit queueFileContextMenuClicked(this, m_fileID, chosen->data().toString());
}
