#include "train/precisetimer.h"

#include <QTest>
#include <atomic>
#include <future>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Something to wait for when a test must show that nothing happens: another timer's ticks.
// Once it has ticked 30 times, the timer under test had as many chances to tick too.
void letTimePass()
{
    std::atomic<int> seen{0};
    PreciseTimer witness;
    witness.setTickHandler([&](quint64) { ++seen; });
    witness.setInterval(1);
    QTRY_VERIFY(seen.load() >= 30);
}

// Counts ticks and keeps the latest schedule; declared before the timer, whose thread writes it.
struct TickLog
{
    std::atomic<int> count{0};
    std::atomic<quint64> last{0};

    // The schedule before the count, so that a counted tick's schedule is there to read.
    TrainTimer::TickHandler handler()
    {
        return [this](quint64 schedule) {
            last = schedule;
            ++count;
        };
    }
};

} // namespace

class tst_PreciseTimer : public QObject
{
    Q_OBJECT

private slots:
    void nextDeadline_data();
    void nextDeadline();
    void commandsEndOlderSchedules();
    void quietUntilArmedAgain_data();
    void quietUntilArmedAgain();
    void replacingHandlerWaitsForStalledTickThatSkips();
    void replacingHandlerFromInsideATick();
    void destructionWhileTicking();
};

void tst_PreciseTimer::nextDeadline_data()
{
    // Microseconds after the deadline just served.
    QTest::addColumn<qint64>("period");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<qint64>("deadline");
    QTest::addColumn<quint64>("skipped");

    QTest::newRow("on time") << 10000ll << 120ll << 10000ll << 0ull;
    QTest::newRow("exactly on the next deadline") << 10000ll << 10000ll << 10000ll << 0ull;
    QTest::newRow("late by less than a period") << 10000ll << 14000ll << 20000ll << 1ull;
    QTest::newRow("late by several periods") << 10000ll << 45000ll << 50000ll << 4ull;
    QTest::newRow("exactly on a later deadline") << 10000ll << 30000ll << 30000ll << 2ull;
    QTest::newRow("no period: now") << 0ll << 777ll << 777ll << 0ull;
}

void tst_PreciseTimer::nextDeadline()
{
    QFETCH(qint64, period);
    QFETCH(qint64, now);
    QFETCH(qint64, deadline);
    QFETCH(quint64, skipped);

    using us = std::chrono::microseconds;
    const PreciseTimer::Clock::time_point previous(100h); // away from the clock's zero
    const auto next = PreciseTimer::nextDeadline(previous, us(period), previous + us(now));
    QCOMPARE(std::chrono::duration_cast<us>(next.deadline - previous).count(), deadline);
    QCOMPARE(next.skipped, skipped);
}

void tst_PreciseTimer::commandsEndOlderSchedules()
{
    TickLog log;
    PreciseTimer timer;
    timer.setTickHandler(log.handler());
    timer.setInterval(1);
    QTRY_VERIFY(log.count.load() >= 1);
    const quint64 first = log.last.load();
    QVERIFY(timer.isCurrent(first));

    timer.setInterval(1); // the same interval again still starts a new schedule
    QVERIFY(!timer.isCurrent(first));
    QTRY_VERIFY(timer.isCurrent(log.last.load())); // ticks carry the new one
    const quint64 second = log.last.load();

    timer.setEnabled(false);
    timer.setEnabled(true);
    QVERIFY(!timer.isCurrent(second));
}

void tst_PreciseTimer::quietUntilArmedAgain_data()
{
    // What a ticking timer is left with; each row lacks one of the three things it needs.
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("handler");

    QTest::newRow("disabled") << false << 1 << true;
    QTest::newRow("interval 0") << true << 0 << true;
    QTest::newRow("handler cleared, still armed") << true << 1 << false;
}

void tst_PreciseTimer::quietUntilArmedAgain()
{
    QFETCH(bool, enabled);
    QFETCH(int, interval);
    QFETCH(bool, handler);

    TickLog log;
    PreciseTimer timer;
    timer.setTickHandler(log.handler());
    timer.setInterval(1);
    QTRY_VERIFY(log.count.load() >= 3);

    // Only what the row changes: the cleared handler must go while the thread waits for a deadline.
    if (!enabled)
        timer.setEnabled(false);
    if (interval != 1)
        timer.setInterval(interval);
    // Handing over the handler also waits for a tick that had already begun.
    timer.setTickHandler(handler ? log.handler() : TrainTimer::TickHandler());
    const int settled = log.count.load();
    letTimePass();
    QCOMPARE(log.count.load(), settled);

    timer.setTickHandler(log.handler()); // in the cleared row this alone must wake the thread
    if (!enabled)
        timer.setEnabled(true);
    if (interval != 1)
        timer.setInterval(1);
    QTRY_VERIFY(log.count.load() >= settled + 3);
}

void tst_PreciseTimer::replacingHandlerWaitsForStalledTickThatSkips()
{
    std::promise<void> entered;
    std::atomic<int> oldCalls{0};
    std::atomic<bool> oldFinished{false};
    TickLog log;
    PreciseTimer timer; // last: its thread uses everything above until it is gone
    timer.setTickHandler([&](quint64) {
        if (oldCalls.fetch_add(1) == 0) {
            entered.set_value();
            std::this_thread::sleep_for(20ms); // a stalled machine, for twenty periods at least
        }
        oldFinished = true;
    });
    timer.setInterval(1);
    entered.get_future().wait();
    timer.setTickHandler(log.handler());
    QVERIFY(oldFinished);
    QTRY_VERIFY(log.count.load() >= 3);
    QCOMPARE(oldCalls.load(), 1); // no old tick slipped in after the stalled one
    // At least the nineteen deadlines wholly inside the stall were skipped and counted.
    QVERIFY2(timer.missedDeadlines() >= 19, QByteArray::number(timer.missedDeadlines()));
}

void tst_PreciseTimer::replacingHandlerFromInsideATick()
{
    std::atomic<int> firstCalls{0};
    std::atomic<int> secondCalls{0};
    PreciseTimer timer;
    timer.setTickHandler([&](quint64) {
        ++firstCalls;
        timer.setTickHandler([&](quint64) { ++secondCalls; });
    });
    timer.setInterval(1);
    QTRY_VERIFY(secondCalls.load() >= 3);
    QCOMPARE(firstCalls.load(), 1);
}

void tst_PreciseTimer::destructionWhileTicking()
{
    // Many short lives at the shortest period. Even ones end at once, odd ones inside a tick:
    // the handler outlasts the period, so once it has run the thread is nearly always in it.
    for (int round = 0; round < 40; ++round) {
        auto calls = std::make_shared<std::atomic<int>>(0);
        {
            PreciseTimer timer;
            timer.setTickHandler([calls](quint64) {
                ++*calls;
                std::this_thread::sleep_for(2ms);
            });
            timer.setInterval(1);
            if (round % 2 == 1)
                QTRY_VERIFY(calls->load() >= 1);
        }
        // The thread has finished with the handler: no copy of it is left, not even a running one.
        QCOMPARE(calls.use_count(), 1L);
    }
}

QTEST_GUILESS_MAIN(tst_PreciseTimer)
#include "tst_precisetimer.moc"
