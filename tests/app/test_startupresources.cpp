// The embedded resources the client loads at start-up: images and the dark
// style sheet, which must parse and give every widget kind readable text.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QRegularExpression>
#include <QWizard>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QStringList styleWarnings;

void collectStyleWarnings(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.contains(QLatin1String("style"), Qt::CaseInsensitive))
        styleWarnings.append(message);
}

double luminance(const QColor& c)
{
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

class TestStartupResources : public QObject {
    Q_OBJECT

private slots:
    void images_data()
    {
        QTest::addColumn<QString>("path");
        for (const char* name : {"icon", "splash1", "configure", "watchfolder", "list-add", "arrow-down", "arrow-up", "check"})
            QTest::newRow(name) << QStringLiteral(":/images/%1.png").arg(QLatin1String(name));
    }

    void images()
    {
        QFETCH(QString, path);
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QVERIFY(image.width() >= 10 && image.height() >= 10);
        // Images shown at their own size have a drawing at twice it, which
        // Qt takes on screens scaled above 100 % (the large icon and splash
        // are only ever shown smaller than they are).
        if (image.width() > 128)
            return;
        const QString twice = path.chopped(4) + QStringLiteral("@2x.png");
        const QImage large(twice);
        QVERIFY2(!large.isNull(), qPrintable(twice));
        QCOMPARE(large.size(), image.size() * 2);
    }

    void styleSheetParses()
    {
        QFile file(QStringLiteral(":/css/dark-style.css"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString css = QString::fromUtf8(file.readAll());
        QVERIFY(css.contains(QLatin1String("#607cff")));
        styleWarnings.clear();
        const auto previous = qInstallMessageHandler(collectStyleWarnings);
        qApp->setStyleSheet(css);
        QWidget probe;
        probe.ensurePolished();
        qInstallMessageHandler(previous);
        QVERIFY2(styleWarnings.isEmpty(), qPrintable(styleWarnings.join(QLatin1Char('\n'))));
    }

    // Every pair the style sheet sets: each rule's text colour against the
    // background the rule sets (the window's where it sets none), and the
    // queue panel's text colours against its line backing. Small text needs
    // 4.5:1; greyed-out (disabled) text is exempt.
    void styleSheetPairsAreReadable()
    {
        QFile file(QStringLiteral(":/css/dark-style.css"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QString css = QString::fromUtf8(file.readAll());
        css.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
        const QColor window(0x32, 0x32, 0x32);
        QStringList failures;
        int pairs = 0;
        auto check = [&](const QString& where, const QColor& text, const QColor& background) {
            ++pairs;
            if (contrast(text, background) < 4.5)
                failures << QStringLiteral("%1: %2 on %3 (%4:1)")
                                .arg(where, text.name(), background.name())
                                .arg(contrast(text, background), 0, 'f', 2);
        };
        const QRegularExpression rule(QStringLiteral("([^{}]+)\\{([^}]*)\\}"));
        for (const QRegularExpressionMatch& match : rule.globalMatch(css)) {
            const QString selectors = match.captured(1).simplified();
            QHash<QString, QColor> colours;
            for (const QString& declaration : match.captured(2).split(QLatin1Char(';'))) {
                const QString name = declaration.section(QLatin1Char(':'), 0, 0).trimmed();
                const QColor value(declaration.section(QLatin1Char(':'), 1).trimmed());
                if (value.isValid())
                    colours.insert(name, value);
            }
            // Greyed-out text is exempt; a plain frame's colour draws its lines, not text.
            const QStringList each = selectors.split(QLatin1Char(','));
            const bool exempt = std::all_of(each.cbegin(), each.cend(), [](const QString& s) {
                return s.contains(QLatin1String(":disabled")) || s.trimmed().section(QLatin1Char(' '), -1).startsWith(QLatin1String("QFrame"));
            });
            if (exempt)
                continue;
            QColor background = colours.value(QStringLiteral("background-color"), colours.value(QStringLiteral("background")));
            if (!background.isValid() || background.alpha() == 0)
                background = window;
            if (colours.contains(QStringLiteral("color")))
                check(selectors, colours.value(QStringLiteral("color")), background);
            if (colours.contains(QStringLiteral("selection-color")))
                check(selectors + QStringLiteral(" (selection)"), colours.value(QStringLiteral("selection-color")),
                      colours.value(QStringLiteral("selection-background-color"), background));
            const QColor line = colours.value(QStringLiteral("qproperty-lineBackground"));
            for (const char* text : {"qproperty-lineText", "qproperty-errorText"}) {
                if (line.isValid() && colours.contains(QLatin1String(text)))
                    check(selectors + QLatin1Char(' ') + QLatin1String(text), colours.value(QLatin1String(text)), line);
            }
        }
        QVERIFY(pairs > 30);
        QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("\n") + failures.join(QLatin1Char('\n'))));
    }

    // Text against its own background, enabled, for every widget kind the
    // client shows.
    void readableText_data()
    {
        QTest::addColumn<std::function<QWidget*()>>("make");
        auto add = [](const char* name, std::function<QWidget*()> make) { QTest::newRow(name) << make; };
        add("main window", [] { return new QMainWindow; });
        add("menu bar", [] { return new QMenuBar; });
        add("menu", [] { return new QMenu; });
        add("tabs", [] { return new QTabWidget; });
        add("scroll area", [] { return new QScrollArea; });
        add("list view", [] { return new QListView; });
        add("tree", [] { return new QTreeWidget; });
        add("header", [] { return new QHeaderView(Qt::Horizontal); });
        add("line edit", [] { return new QLineEdit; });
        add("combo box", [] { return new QComboBox; });
        add("check box", [] { return new QCheckBox(QStringLiteral("x")); });
        add("radio button", [] { return new QRadioButton(QStringLiteral("x")); });
        add("push button", [] { return new QPushButton(QStringLiteral("x")); });
        add("tool button", [] { return new QToolButton; });
        add("group box", [] { return new QGroupBox(QStringLiteral("x")); });
        add("label", [] { return new QLabel(QStringLiteral("x")); });
        add("status bar", [] { return new QStatusBar; });
        add("progress bar", [] { return new QProgressBar; });
        add("spin box", [] { return new QSpinBox; });
        add("wizard", [] { return new QWizard; });
        add("message box", [] { return new QMessageBox; });
    }

    void readableText()
    {
        QFETCH(std::function<QWidget*()>, make);
        QFile file(QStringLiteral(":/css/dark-style.css"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
        const std::unique_ptr<QWidget> widget(make());
        widget->ensurePolished();
        const QPalette palette = widget->palette();
        QColor background = palette.color(widget->backgroundRole());
        if (background.alpha() == 0)
            background = QColor(0x32, 0x32, 0x32);
        const QColor text = palette.color(widget->foregroundRole());
        QVERIFY2(contrast(text, background) >= 4.5,
                 qPrintable(text.name() + QStringLiteral(" on ") + background.name()));
        QVERIFY2(luminance(background) < 0.1, qPrintable(background.name()));
    }
};

QTEST_MAIN(TestStartupResources)
#include "test_startupresources.moc"
