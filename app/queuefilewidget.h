#pragma once

#include <QColor>
#include <QSize>
#include <QStringList>
#include <QWidget>

#include <memory>

class QClickableLabel;
class QHBoxLayout;
class QMenu;
class QToolButton;

// One queued file in the main window's lists: a framed, gradient-filled
// panel with status, progress, source, destination, outputs and error. It
// knows only its file ID and asks the main window, through signals, what
// its context menu offers.
class QueueFileWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kFullWidth = 330;
    static constexpr int kFullHeight = 170;
    static constexpr int kCompactHeight = 68;
    static constexpr int kErrorLineHeight = 32;

    explicit QueueFileWidget(int fileID, QWidget* parent = nullptr);

    int fileID() const { return m_fileID; }
    int lastState() const { return m_lastState; }
    void setLastState(int state) { m_lastState = state; }

    // The three lines that follow the file's record on every queue tick,
    // as the record holds them. A line whose text has not changed since the
    // last call is left alone, so a tick without news converts nothing and
    // touches no label.
    void followRecord(const QByteArray& status, const QByteArray& progress, const QByteArray& error);
    void setStatusText(const QString& text);
    void setProgressText(const QString& text);
    void setSourceText(const QString& text);
    void setDestinationText(const QString& text);
    void setErrorText(const QString& text);
    void setOutputs(const QStringList& outputs);
    void setPriorityText(const QString& text);
    void setDebugText(const QString& text);
    void setStatusColour(const QString& name);
    void setBackground(bool useDefault, int red, int green, int blue);
    void showFull();
    void showCompact(bool showError, bool showOutputs);

    QSize sizeHint() const override;
    QColor background() const { return m_background; }

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

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void freeAreaClick(int buttonN, bool doubleClick);
    void customContextMenuRequestedHandler(QPoint pos);

private:
    QClickableLabel* addLabel(const QString& name, const QString& text, const QString& styleSheet);
    void applySize(const QSize& size);
    void reportClick(QMouseEvent* event, bool doubleClick);

    int m_lastState = 1;
    // What followRecord last showed; false once a setter has changed a line.
    bool m_recordShown = false;
    QByteArray m_recordStatus;
    QByteArray m_recordProgress;
    QByteArray m_recordError;
    int m_fileID;
    QClickableLabel* lblStatus;
    QClickableLabel* lblPriority;
    QToolButton* btnRemove;
    QClickableLabel* lblProgress;
    QClickableLabel* lblSource;
    QClickableLabel* lblOutputs;
    QClickableLabel* lblDestination;
    QToolButton* btnMoveDown;
    QToolButton* btnMoveUp;
    QClickableLabel* lblError;
    QClickableLabel* lblDebug;
    QHBoxLayout* topRow;
    QSize fullSize{kFullWidth, kFullHeight};
    QSize compactSize{kFullWidth, kCompactHeight};
    QColor m_background;
    QSize currentSize{kFullWidth, kFullHeight};
};
