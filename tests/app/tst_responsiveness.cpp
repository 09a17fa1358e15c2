#include "windowtest.h"

#include "pipeline/webapi.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace {

constexpr qint64 kLargestTickGapMs = 250;

} // namespace

// The window keeps ticking while the service holds a log-in: pressing "Log
// out" or changing the address records the request and returns, and
// closing the window aborts the held request instead of waiting for it.
class TestResponsiveness : public WindowTest {
    Q_OBJECT

public:
    TestResponsiveness() : WindowTest(Start::AtLogIn) {}

private slots:
    void logOutDuringAStalledLogIn();

private:
    // Gaps between consecutive runs of the driver's 100 ms queue timer.
    void watchQueueTicks();

    QElapsedTimer m_clock;
    qint64 m_lastTick = -1;
    qint64 m_largestGap = 0;
    int m_ticks = 0;
};

void TestResponsiveness::watchQueueTicks()
{
    m_clock.start();
    for (QTimer* timer : client->window->queueDriver().findChildren<QTimer*>()) {
        if (timer->interval() != 100)
            continue;
        connect(timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            if (m_lastTick >= 0)
                m_largestGap = std::max(m_largestGap, now - m_lastTick);
            m_lastTick = now;
            ++m_ticks;
        });
    }
}

void TestResponsiveness::logOutDuringAStalledLogIn()
{
    // The log-in is held far longer than this test may run (see its CTest
    // time-out), so a window that waited for it could not pass.
    ServiceProcess service({"--stall", "/Login:600"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    WebAPI::setStallTimeout(600000);
    client->settings.wUsername = ServiceProcess::demoEmail().toUtf8();
    client->settings.wPassword = ServiceProcess::demoPassword().toUtf8();
    QVERIFY(client->manager.createSessions(service.apiUrl().toUtf8(), 1));
    client->start();
    watchQueueTicks();
    QTRY_VERIFY2_WITH_TIMEOUT(service.log().contains("POST /api/Login -> stalled"),
                              "the log-in never reached the service", 10000);

    const int ticksBefore = m_ticks;
    client->action("actionLog_out")->trigger();
    client->manager.setApiUrl(service.apiUrl().toUtf8());
    QVERIFY(!client->manager.hasToken());
    // Twenty ticks after the log-out, every gap has been measured.
    QTRY_VERIFY2_WITH_TIMEOUT(m_ticks >= ticksBefore + 20, "the queue timer stopped ticking", 10000);
    QVERIFY2(m_largestGap < kLargestTickGapMs, qPrintable(QStringLiteral("largest gap between two queue ticks: %1 ms")
                                                              .arg(m_largestGap)));
    qInfo("largest gap between two queue ticks: %lld ms over %d ticks", m_largestGap, m_ticks);

    // Closing aborts the held log-in; the service never answered it.
    client.reset();
    QVERIFY(!service.log().contains("POST /api/Login -> 200"));
    WebAPI::setStallTimeout(WebAPI::kDefaultStallTimeoutMs);
}

QTEST_MAIN(TestResponsiveness)
#include "tst_responsiveness.moc"
