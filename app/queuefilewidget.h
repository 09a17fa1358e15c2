#pragma once

#include <QColor>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class QMenu;

// One queued file in the main window's lists: a framed, gradient-filled
// panel with status, progress, source, destination, outputs and error, a
// close button and two arrow buttons. It knows only its file ID and asks
// the main window, through signals, what its context menu offers.
//
// The panel is one widget that paints its lines and buttons itself and
// finds what a click hit by position: a watched folder may queue hundreds
// of files at once, and a panel built from a dozen child widgets with style
// sheets of their own costs milliseconds each. Its colours come from the
// palette, and a style sheet may set them as properties
// (QueueFileWidget { qproperty-lineBackground: #2e2e2e; }).
//
// The keyboard drives it too (queuefilekeys.cpp): the panel takes the
// focus, the arrow keys move it to the panel above or below, Ctrl+Up and
// Ctrl+Down and Delete press the arrow and close buttons, Enter acts as a
// double click, the Menu key and Shift+F10 open the context menu. Screen
// readers see it as a list item with its three buttons and its bar
// (queuefileaccessible.h).
class QueueFileWidget : public QWidget {
    Q_OBJECT
    // Backing of the text lines; transparent by default.
    Q_PROPERTY(QColor lineBackground MEMBER m_lineBackground)
    // Text of the progress, source, destination and outputs lines; the
    // palette's window text colour when not set.
    Q_PROPERTY(QColor lineText MEMBER m_lineText)
    // The error line's text; red when not set.
    Q_PROPERTY(QColor errorText MEMBER m_errorText)
    // Backing of the status text; transparent by default.
    Q_PROPERTY(QColor statusBackground MEMBER m_statusBackground)
    // The buttons' face and frame, and the frame of the one under the mouse;
    // from the palette when not set.
    Q_PROPERTY(QColor buttonBackground MEMBER m_buttonBackground)
    Q_PROPERTY(QColor buttonBorder MEMBER m_buttonBorder)
    Q_PROPERTY(QColor buttonHoverBorder MEMBER m_buttonHoverBorder)
    // The frame of the panel that has the keyboard focus; the palette's
    // highlight when not set.
    Q_PROPERTY(QColor focusBorder MEMBER m_focusBorder)

public:
    static constexpr int kFullWidth = 330;
    static constexpr int kFullHeight = 170;
    static constexpr int kCompactHeight = 68;
    static constexpr int kErrorLineHeight = 32;
    static constexpr int kBarHeight = 6;

    // What the panel shows, in the order of its rows.
    enum class Part {
        Status,
        Priority,
        RemoveButton,
        Progress,
        Source,
        Destination,
        Outputs,
        Error,
        MoveDownButton,
        MoveUpButton,
        Debug,
    };

    explicit QueueFileWidget(int fileID, QWidget* parent = nullptr);

    int fileID() const { return m_fileID; }
    int lastState() const { return m_lastState; }
    void setLastState(int state) { m_lastState = state; }

    // The three lines that follow the file's record on every queue tick,
    // as the record holds them. A line whose text has not changed since the
    // last call is left alone, so a tick without news converts nothing and
    // repaints nothing.
    void followRecord(const QByteArray& status, const QByteArray& progress, const QByteArray& error);
    void setStatusText(const QString& text);
    void setProgressText(const QString& text);
    // The bar under the progress line: a share from 0 to 100, kBarBusy
    // while the step tells none (drawn hatched), kBarHidden for no bar. It
    // shows with the progress line.
    static constexpr int kBarHidden = -2;
    static constexpr int kBarBusy = -1;
    void setBarValue(int value);
    int barValue() const { return m_barValue; }
    // "Progress: 40 %", "Progress: not known", or empty without a bar.
    QString barText() const;
    void setSourceText(const QString& text);
    void setDestinationText(const QString& text);
    void setErrorText(const QString& text);
    void setOutputs(const QStringList& outputs);
    void setPriorityText(const QString& text);
    void setDebugText(const QString& text);
    // A colour name ("black", "blue", "red") for the status text.
    void setStatusColour(const QString& name);
    void setBackground(bool useDefault, int red, int green, int blue);
    void showFull();
    void showCompact(bool showError, bool showOutputs);
    // Whether the arrow buttons act (and the close button, unless
    // setRemoveEnabled says otherwise); the window allows them for Waiting
    // and Paused files only.
    void setQueueControlsEnabled(bool enabled);
    // The close button alone: a file being processed may be cancelled,
    // though not moved.
    void setRemoveEnabled(bool enabled);

    QSize sizeHint() const override;
    QColor background() const { return m_background; }
    QColor statusColour() const { return m_statusColour; }
    bool queueControlsEnabled() const { return m_controlsEnabled; }
    QString text(Part part) const;
    bool isShown(Part part) const;
    // Where the part is drawn; empty when it is hidden.
    QRect rectOf(Part part) const;
    // The close and arrow buttons, in the order of their accessible children.
    static constexpr Part kButtons[] = {Part::MoveUpButton, Part::MoveDownButton, Part::RemoveButton};
    // The close button of a file being processed cancels it, and says so.
    QString buttonToolTip(Part button) const;
    // Whether the button is drawn and not greyed.
    bool isButtonAvailable(Part button) const { return isShown(button) && buttonEnabled(button); }
    bool buttonEnabled(Part button) const
    {
        return button == Part::RemoveButton ? m_controlsEnabled || m_removeEnabled : m_controlsEnabled;
    }
    // As a click on the button; nothing when it is not available.
    void pressButton(Part button);

    // Context-menu items; the main window sets them while answering
    // queueFileContextMenuShow, before the menu is built.
    bool showPauseResume = true;
    QString textPauseResume = QStringLiteral("Pause");
    bool showOpenOutput = true;
    QString textOpenOutput = QStringLiteral("Go to processed audio");
    bool showOpenInput = true;
    QString textOpenInput = QStringLiteral("Go to source audio");
    bool showRemove = true;
    QString textRemove = QStringLiteral("Remove/Cancel");
    bool showReSubmit = true;
    QString textReSubmit = QStringLiteral("Submit with another preset");

    // Asks the main window which items apply and builds the menu they
    // describe; none when the main window refuses a menu. Each action's
    // data is its item name ("mnuPauseResume", "mnuOpenOutput", ...).
    std::unique_ptr<QMenu> requestContextMenu();

signals:
    void queueFileClick(int fileID, int buttonN, bool doubleClick);
    void queueFileContextMenuShow(QueueFileWidget* sender, int fileID, bool& show);
    void queueFileContextMenuClicked(QueueFileWidget* sender, int fileID, QString mnuName);
    // An arrow button: one place towards the front (-1) or the back (1).
    void queueFileMoveRequested(int fileID, int places);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void customContextMenuRequestedHandler(QPoint pos);

private:
    static constexpr int kParts = int(Part::Debug) + 1;

    void setPartText(Part part, const QString& text);
    void setShown(std::initializer_list<Part> parts, bool shown);
    void applySize(const QSize& size);
    void reportClick(QMouseEvent* event, bool doubleClick);
    std::optional<Part> partAt(const QPoint& point) const;
    std::optional<Part> buttonAt(const QPoint& point) const;
    void buttonClicked(Part button);
    // The next shown panel of the same list, `step` places on (-1: above).
    QueueFileWidget* neighbour(int step) const;
    void focusPanel(QueueFileWidget* panel);
    void removeFromKeyboard();
    // Tells screen readers what changed (nothing while none listens).
    void announceText(Part part);
    void announceButtons(bool availabilityChanged);
    void announceBar();
    // After buttons were enabled or disabled: repaint and tell screen readers.
    void buttonsChanged();
    // The close button does what the context menu's remove item does, and
    // only where the menu offers it.
    void btnRemove_Clicked();
    QRect lineRect(Part part) const;
    void paintLine(QPainter& painter, Part part, const QColor& colour) const;
    void paintButton(QPainter& painter, Part button) const;
    void paintBar(QPainter& painter) const;
    QColor lineTextColour() const;

    int m_lastState = 1;
    // What followRecord last showed; false once a setter has changed a line.
    bool m_recordShown = false;
    QByteArray m_recordStatus;
    QByteArray m_recordProgress;
    QByteArray m_recordError;
    int m_barValue = kBarHidden;
    int m_fileID;
    std::array<QString, kParts> m_texts;
    std::array<bool, kParts> m_shown{};
    bool m_controlsEnabled = true;
    bool m_removeEnabled = false;
    // The button under the mouse, and the one a left press went down on.
    std::optional<Part> m_hovered;
    std::optional<Part> m_pressed;
    QColor m_statusColour{Qt::black};
    QColor m_lineBackground{Qt::transparent};
    QColor m_lineText;
    QColor m_statusBackground{Qt::transparent};
    QColor m_errorText{Qt::red};
    QColor m_buttonBackground;
    QColor m_buttonBorder;
    QColor m_buttonHoverBorder;
    QColor m_focusBorder;
    QSize fullSize{kFullWidth, kFullHeight};
    QSize compactSize{kFullWidth, kCompactHeight};
    QColor m_background;
    QSize currentSize{kFullWidth, kFullHeight};
};
