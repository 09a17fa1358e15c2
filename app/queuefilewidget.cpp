#include "app/queuefilewidget.h"

#include "app/queuefileaccessible.h"

#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>

namespace {

using Part = QueueFileWidget::Part;

// Rows and lines, in pixels.
constexpr int kMarginX = 6;
constexpr int kMarginY = 3;
constexpr int kSpacing = 2;
// The lines below the status row are indented.
constexpr int kIndent = 10;
// Room between a line's backing and its text.
constexpr int kPadX = 4;
constexpr int kPadY = 2;
constexpr int kButtonSize = 22;
constexpr int kArrowWidth = 8;
constexpr int kArrowHeight = 5;

constexpr Part kLines[] = {Part::Progress, Part::Source, Part::Destination, Part::Outputs, Part::Error};
constexpr auto& kButtons = QueueFileWidget::kButtons;

int clampChannel(int value)
{
    return std::clamp(value, 0, 255);
}

QFont statusFont()
{
    QFont font(QStringLiteral("Arial"), 11);
    font.setWeight(QFont::Bold);
    return font;
}

QFont priorityFont()
{
    return QFont(QStringLiteral("Arial"), 9);
}

bool isButton(Part part)
{
    return std::find(std::begin(kButtons), std::end(kButtons), part) != std::end(kButtons);
}

bool isLine(Part part)
{
    return std::find(std::begin(kLines), std::end(kLines), part) != std::end(kLines);
}

} // namespace

QString QueueFileWidget::buttonToolTip(Part button) const
{
    switch (button) {
    case Part::RemoveButton:
        return m_removeEnabled && !m_controlsEnabled ? tr("Cancel the processing of this file")
                                                     : tr("Remove from the queue");
    case Part::MoveDownButton: return tr("Move down in the queue");
    case Part::MoveUpButton: return tr("Move up in the queue");
    default: return QString();
    }
}

QueueFileWidget::QueueFileWidget(int fileID, QWidget* parent)
    : QWidget(parent), m_fileID(fileID)
{
    installQueueFileAccessibility();
    m_texts[int(Part::Status)] = QStringLiteral("Status");
    m_texts[int(Part::Priority)] = QStringLiteral("High Priority");
    m_texts[int(Part::RemoveButton)] = QStringLiteral("X");
    m_texts[int(Part::Progress)] = QStringLiteral("Progress 43%");
    m_texts[int(Part::Source)] = QStringLiteral("Source: .../input/test.wav");
    m_texts[int(Part::Outputs)] = QStringLiteral("Additional output");
    m_texts[int(Part::Destination)] = QStringLiteral("Destination: .../input/test.wav");
    m_texts[int(Part::Error)] = QStringLiteral("Error: Could not connect");
    m_texts[int(Part::Debug)] = QStringLiteral("Debug info");
    m_shown.fill(true);
    setShown({Part::RemoveButton, Part::Outputs, Part::Error}, false);

    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            &QueueFileWidget::customContextMenuRequestedHandler);

    setBackground(true, 0, 0, 0);
    applySize(currentSize);
}

// ---- texts and forms ---------------------------------------------------------

void QueueFileWidget::setPartText(Part part, const QString& text)
{
    QString& shown = m_texts[size_t(part)];
    if (shown == text)
        return;
    shown = text;
    update();
    announceText(part);
}

void QueueFileWidget::setShown(std::initializer_list<Part> parts, bool shown)
{
    bool buttonsChanged = false;
    bool linesChanged = false;
    for (Part part : parts) {
        const bool changed = m_shown[size_t(part)] != shown;
        buttonsChanged = buttonsChanged || (isButton(part) && changed);
        linesChanged = linesChanged || (isLine(part) && changed);
        m_shown[size_t(part)] = shown;
    }
    update();
    if (buttonsChanged)
        announceButtons(false);
    // The description holds the lines shown: a finished file's panel drops
    // its progress line and shows its outputs without a text changing.
    if (linesChanged)
        announceText(Part::Progress);
}

QString QueueFileWidget::text(Part part) const
{
    return m_texts[size_t(part)];
}

bool QueueFileWidget::isShown(Part part) const
{
    return m_shown[size_t(part)];
}

void QueueFileWidget::followRecord(const QByteArray& status, const QByteArray& progress, const QByteArray& error)
{
    const auto follow = [this](Part part, QByteArray& shown, const QByteArray& text) {
        if (!m_recordShown || shown != text)
            setPartText(part, QString::fromUtf8(text));
        shown = text;
    };
    follow(Part::Status, m_recordStatus, status);
    follow(Part::Progress, m_recordProgress, progress);
    follow(Part::Error, m_recordError, error);
    m_recordShown = true;
}

void QueueFileWidget::setStatusText(const QString& text)
{
    m_recordShown = false;
    setPartText(Part::Status, text);
}

void QueueFileWidget::setProgressText(const QString& text)
{
    m_recordShown = false;
    setPartText(Part::Progress, text);
}

void QueueFileWidget::setBarValue(int value)
{
    if (m_barValue == value)
        return;
    m_barValue = value;
    update();
    announceText(Part::Progress);
    announceBar();
}

QString QueueFileWidget::barText() const
{
    if (m_barValue == kBarHidden)
        return QString();
    return m_barValue == kBarBusy ? tr("Progress: not known") : tr("Progress: %1 %").arg(m_barValue);
}

void QueueFileWidget::setErrorText(const QString& text)
{
    m_recordShown = false;
    setPartText(Part::Error, text);
}

void QueueFileWidget::setSourceText(const QString& text) { setPartText(Part::Source, text); }
void QueueFileWidget::setDestinationText(const QString& text) { setPartText(Part::Destination, text); }
void QueueFileWidget::setPriorityText(const QString& text) { setPartText(Part::Priority, text); }
void QueueFileWidget::setDebugText(const QString& text) { setPartText(Part::Debug, text); }

void QueueFileWidget::setOutputs(const QStringList& outputs)
{
    QString text;
    for (const QString& output : outputs)
        text += output + QLatin1Char('\n');
    setPartText(Part::Outputs, text);
}

void QueueFileWidget::setStatusColour(const QString& name)
{
    m_statusColour = QColor(name);
    update();
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

void QueueFileWidget::setQueueControlsEnabled(bool enabled)
{
    if (m_controlsEnabled == enabled)
        return;
    m_controlsEnabled = enabled;
    buttonsChanged();
}

void QueueFileWidget::setRemoveEnabled(bool enabled)
{
    if (m_removeEnabled == enabled)
        return;
    m_removeEnabled = enabled;
    buttonsChanged();
}

void QueueFileWidget::buttonsChanged()
{
    m_pressed.reset();
    update();
    announceButtons(true);
}

void QueueFileWidget::showFull()
{
    setShown({Part::Outputs}, false);
    setShown({Part::Status, Part::Priority, Part::Progress, Part::RemoveButton, Part::Error, Part::Debug,
              Part::MoveDownButton, Part::MoveUpButton},
             true);
    applySize(fullSize);
}

void QueueFileWidget::showCompact(bool showError, bool showOutputs)
{
    QSize size = compactSize;
    if (showError)
        size.rheight() += kErrorLineHeight;
    setShown({Part::Outputs}, showOutputs);
    setShown({Part::Error}, showError);
    setShown({Part::Status, Part::Priority, Part::Progress, Part::RemoveButton, Part::Debug, Part::MoveDownButton,
              Part::MoveUpButton},
             false);
    m_pressed.reset();
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

// ---- geometry ----------------------------------------------------------------

// The shown lines share the room between the status row and the arrow row
// (the whole panel in the compact form): each gets its natural height and
// an equal share of what is left, as a box layout would give them.
QRect QueueFileWidget::lineRect(Part part) const
{
    const bool full = isShown(Part::Status);
    int top = kMarginY;
    int room = height() - 2 * kMarginY;
    if (full) {
        top += kButtonSize + kSpacing;
        room -= 2 * (kButtonSize + kSpacing);
    }
    std::array<int, std::size(kLines)> heights{};
    int shown = 0;
    for (size_t i = 0; i < std::size(kLines); ++i) {
        if (!isShown(kLines[i]))
            continue;
        const qsizetype rows = kLines[i] == Part::Outputs ? text(Part::Outputs).count(QLatin1Char('\n')) : 1;
        heights[i] = int(std::max<qsizetype>(1, rows)) * fontMetrics().height() + 2 * kPadY;
        if (kLines[i] == Part::Progress && m_barValue != kBarHidden)
            heights[i] += kBarHeight;
        room -= heights[i] + (shown > 0 ? kSpacing : 0);
        ++shown;
    }
    const int share = shown > 0 ? std::max(0, room) / shown : 0;
    for (size_t i = 0; i < std::size(kLines); ++i) {
        if (!isShown(kLines[i]))
            continue;
        if (kLines[i] == part)
            return QRect(kMarginX + kIndent, top, width() - 2 * kMarginX - kIndent, heights[i] + share);
        top += heights[i] + share + kSpacing;
    }
    return QRect();
}

QRect QueueFileWidget::rectOf(Part part) const
{
    if (!isShown(part))
        return QRect();
    const QRect remove(width() - kMarginX - kButtonSize, kMarginY, kButtonSize, kButtonSize);
    const int bottom = height() - kMarginY - kButtonSize;
    switch (part) {
    case Part::Status: {
        const QFontMetrics metrics(statusFont());
        const int chipHeight = metrics.height() + 2;
        return QRect(kMarginX, kMarginY + (kButtonSize - chipHeight) / 2,
                     metrics.horizontalAdvance(text(part)) + 4 * kPadX, chipHeight);
    }
    case Part::Priority: {
        const int textWidth = QFontMetrics(priorityFont()).horizontalAdvance(text(part));
        return QRect(remove.left() - kPadX - textWidth, kMarginY, textWidth, kButtonSize);
    }
    case Part::RemoveButton: return remove;
    case Part::MoveDownButton: return QRect(kMarginX, bottom, kButtonSize, kButtonSize);
    case Part::MoveUpButton: return QRect(kMarginX + kButtonSize + kSpacing, bottom, kButtonSize, kButtonSize);
    case Part::Debug: {
        const int textWidth = text(part).isEmpty() ? 0 : fontMetrics().horizontalAdvance(text(part)) + 2 * kPadX;
        return QRect(width() - kMarginX - textWidth, bottom, textWidth, kButtonSize);
    }
    default: return lineRect(part);
    }
}

std::optional<Part> QueueFileWidget::buttonAt(const QPoint& point) const
{
    for (Part button : kButtons) {
        if (rectOf(button).contains(point))
            return button;
    }
    return std::nullopt;
}

std::optional<Part> QueueFileWidget::partAt(const QPoint& point) const
{
    if (const std::optional<Part> button = buttonAt(point))
        return button;
    for (Part part : {Part::Status, Part::Priority, Part::Progress, Part::Source, Part::Destination, Part::Outputs,
                      Part::Error, Part::Debug}) {
        if (rectOf(part).contains(point))
            return part;
    }
    return std::nullopt;
}

// ---- mouse, tooltips -----------------------------------------------------------

void QueueFileWidget::mousePressEvent(QMouseEvent* event)
{
    const std::optional<Part> part = partAt(event->position().toPoint());
    // An enabled button takes left presses, as a tool button does; a click
    // is when the button is released over it.
    if (part && isButton(*part) && buttonEnabled(*part) && event->button() == Qt::LeftButton) {
        m_pressed = part;
        update(rectOf(*part));
        return;
    }
    // The outputs and debug lines report no clicks.
    if (part == Part::Outputs || part == Part::Debug)
        return;
    reportClick(event, false);
}

void QueueFileWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    const Part pressed = *m_pressed;
    m_pressed.reset();
    update(rectOf(pressed));
    if (rectOf(pressed).contains(event->position().toPoint()))
        buttonClicked(pressed);
}

void QueueFileWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    const std::optional<Part> part = partAt(event->position().toPoint());
    // On a button the second click of a double click is one more click.
    if (part && isButton(*part) && buttonEnabled(*part) && event->button() == Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    if (part == Part::Outputs || part == Part::Debug)
        return;
    reportClick(event, true);
}

bool QueueFileWidget::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::Leave: {
        std::optional<Part> hovered;
        if (event->type() == QEvent::MouseMove)
            hovered = buttonAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (hovered != m_hovered) {
            for (const std::optional<Part>& button : {m_hovered, hovered}) {
                if (button)
                    update(rectOf(*button));
            }
            m_hovered = hovered;
        }
        break;
    }
    case QEvent::ToolTip: {
        auto* help = static_cast<QHelpEvent*>(event);
        const std::optional<Part> part = partAt(help->pos());
        QString tip;
        if (part && isButton(*part)) {
            tip = buttonToolTip(*part);
        } else if (part) {
            // A line cut off by the panel's edge shows its whole text.
            const QRect room = rectOf(*part).adjusted(kPadX, kPadY, -kPadX, -kPadY);
            const QRect needed = fontMetrics().boundingRect(room, Qt::AlignLeft | Qt::AlignVCenter, text(*part));
            if (!room.contains(needed) || needed.bottom() >= height())
                tip = text(*part).trimmed();
        }
        if (tip.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), tip, this);
        }
        return true;
    }
    default:
        break;
    }
    return QWidget::event(event);
}

void QueueFileWidget::reportClick(QMouseEvent* event, bool doubleClick)
{
    if (event->button() == Qt::LeftButton)
        emit queueFileClick(m_fileID, 1, doubleClick);
    else if (event->button() == Qt::RightButton)
        emit queueFileClick(m_fileID, 2, doubleClick);
}

void QueueFileWidget::pressButton(Part button)
{
    if (isButtonAvailable(button))
        buttonClicked(button);
}

void QueueFileWidget::buttonClicked(Part button)
{
    if (!buttonEnabled(button))
        return;
    if (button == Part::RemoveButton)
        btnRemove_Clicked();
    else
        emit queueFileMoveRequested(m_fileID, button == Part::MoveUpButton ? -1 : 1);
}

void QueueFileWidget::btnRemove_Clicked()
{
    bool show = true;
    emit queueFileContextMenuShow(this, m_fileID, show);
    if (show && showRemove)
        emit queueFileContextMenuClicked(this, m_fileID, QStringLiteral("mnuRemove"));
}

// ---- painting ------------------------------------------------------------------

QColor QueueFileWidget::lineTextColour() const
{
    return m_lineText.isValid() ? m_lineText : palette().color(QPalette::WindowText);
}

void QueueFileWidget::paintLine(QPainter& painter, Part part, const QColor& colour) const
{
    const QString& line = text(part);
    if (!isShown(part) || line.isEmpty())
        return;
    const QRect area = rectOf(part);
    painter.fillRect(area, m_lineBackground);
    painter.setPen(colour);
    // The progress line's text keeps clear of its bar.
    const int bar = part == Part::Progress && m_barValue != kBarHidden ? kBarHeight : 0;
    painter.drawText(area.adjusted(kPadX, kPadY, -kPadX, -kPadY - bar), Qt::AlignLeft | Qt::AlignVCenter, line);
}

// A thin bar along the bottom of the progress line's area.
void QueueFileWidget::paintBar(QPainter& painter) const
{
    if (m_barValue == kBarHidden || !isShown(Part::Progress))
        return;
    const QRect line = rectOf(Part::Progress);
    const QRect groove(line.left() + kPadX, line.bottom() - kBarHeight + 1, line.width() - 2 * kPadX, kBarHeight);
    const QColor accent = palette().color(QPalette::Highlight);
    painter.save();
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRect(groove.adjusted(0, 0, -1, -1));
    painter.setPen(Qt::NoPen);
    if (m_barValue == kBarBusy) {
        painter.setBrush(QBrush(accent, Qt::BDiagPattern));
        painter.drawRect(groove.adjusted(1, 1, -1, -1));
    } else {
        QRect filled = groove.adjusted(1, 1, -1, -1);
        filled.setWidth(filled.width() * m_barValue / 100);
        painter.setBrush(accent);
        painter.drawRect(filled);
    }
    painter.restore();
}

void QueueFileWidget::paintButton(QPainter& painter, Part button) const
{
    if (!isShown(button))
        return;
    const QRectF area = QRectF(rectOf(button)).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool hovered = buttonEnabled(button) && m_hovered == button;
    QColor face = m_buttonBackground.isValid() ? m_buttonBackground : palette().color(QPalette::Button);
    if (m_pressed == button)
        face = palette().color(QPalette::Highlight);
    QColor frame = m_buttonBorder.isValid() ? m_buttonBorder : palette().color(QPalette::Mid);
    if (hovered)
        frame = m_buttonHoverBorder.isValid() ? m_buttonHoverBorder : palette().color(QPalette::Highlight);
    painter.setPen(frame);
    painter.setBrush(face);
    painter.drawRoundedRect(area, 3, 3);

    const QColor glyph = buttonEnabled(button) ? lineTextColour() : palette().color(QPalette::Disabled, QPalette::WindowText);
    if (button == Part::RemoveButton) {
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(glyph);
        painter.drawText(area, Qt::AlignCenter, text(button));
        return;
    }
    const QPointF centre = area.center();
    const qreal tip = button == Part::MoveUpButton ? -kArrowHeight / 2.0 : kArrowHeight / 2.0;
    QPainterPath arrow;
    arrow.moveTo(centre.x() - kArrowWidth / 2.0, centre.y() - tip);
    arrow.lineTo(centre.x() + kArrowWidth / 2.0, centre.y() - tip);
    arrow.lineTo(centre.x(), centre.y() + tip);
    arrow.closeSubpath();
    painter.fillPath(arrow, glyph);
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
    if (hasFocus()) {
        const QColor frame = m_focusBorder.isValid() ? m_focusBorder : palette().color(QPalette::Highlight);
        painter.setPen(QPen(frame, 2, Qt::SolidLine));
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }

    if (isShown(Part::Status)) {
        const QRect chip = rectOf(Part::Status);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_statusBackground);
        painter.drawRoundedRect(chip, 3, 3);
        painter.setFont(statusFont());
        painter.setPen(m_statusColour);
        painter.drawText(chip, Qt::AlignCenter, text(Part::Status));
    }
    if (isShown(Part::Priority)) {
        painter.setFont(priorityFont());
        painter.setPen(QColor(QStringLiteral("blue")));
        painter.drawText(rectOf(Part::Priority), Qt::AlignRight | Qt::AlignVCenter, text(Part::Priority));
    }
    painter.setFont(font());
    for (Part line : kLines)
        paintLine(painter, line, line == Part::Error ? m_errorText : lineTextColour());
    paintBar(painter);
    if (isShown(Part::Debug)) {
        painter.setPen(QColor(QStringLiteral("gray")));
        painter.drawText(rectOf(Part::Debug), Qt::AlignCenter, text(Part::Debug));
    }
    for (Part button : kButtons)
        paintButton(painter, button);
}

// ---- context menu -----------------------------------------------------------------

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
