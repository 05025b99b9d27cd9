// SPDX-License-Identifier: MIT
#include "train/precisetimer.h"

#include <QTest>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

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
    void lateTickRule_data();
    void lateTickRule();
    void quietUntilArmedAgain_data();
    void quietUntilArmedAgain();
    void replacingHandlerWaitsForStalledTick();
};

void tst_PreciseTimer::lateTickRule_data()
{
    // The period is 10 ms; the send of the first tick stalls the thread for `stall` tenths of
    // a period. Expected: the ticks' times in tenths of a period after the start.
    QTest::addColumn<int>("stall");
    QTest::addColumn<QList<qint64>>("ticks");
    QTest::addColumn<quint64>("missed");
    QTest::newRow("half a period: on time") << 5 << QList<qint64>{10, 20, 30} << 0ull;
    QTest::newRow("one period: the next tick at once")
        << 10 << QList<qint64>{10, 20, 30, 40} << 0ull;
    QTest::newRow("1.5 periods: one late tick") << 15 << QList<qint64>{10, 25, 30, 40} << 0ull;
    QTest::newRow("3 periods: one late tick, 2 missed")
        << 30 << QList<qint64>{10, 40, 50, 60} << 2ull;
}

// The thread itself on a clock the test moves: after the stall exactly one tick comes at once
// (never none, never a burst), then the ticks are back on the grid of the start.
void tst_PreciseTimer::lateTickRule()
{
    QFETCH(int, stall);
    QFETCH(QList<qint64>, ticks);
    QFETCH(quint64, missed);

    using Clock = PreciseTimer::Clock;
    const Clock::duration tenth = 1ms;
    std::atomic<Clock::duration> time{100h}; // away from the clock's zero
    std::mutex seenLock;
    QList<qint64> seen;
    std::atomic<int> count{0};
    PreciseTimer timer([&] { return Clock::time_point(time.load()); });
    timer.setTickHandler([&](quint64) {
        const Clock::duration at = time.load();
        if (count.load() == 0)
            time = at + stall * tenth;
        {
            std::lock_guard lock(seenLock);
            seen << (at - 100h) / tenth;
        }
        ++count;
    });
    timer.setInterval(10);

    // The test moves the clock only forward to each tick; a late tick needs no move.
    for (int i = 0; i < ticks.size(); ++i) {
        const Clock::duration at = 100h + ticks.at(i) * tenth;
        if (time.load() < at) {
            time = at;
            timer.clockMoved();
        }
        QTRY_VERIFY(count.load() > i);
    }
    std::lock_guard lock(seenLock);
    QCOMPARE(seen, ticks);
    QCOMPARE(timer.missedDeadlines(), missed);
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
    // The same interval again still starts a new schedule, and the ticks carry the new one.
    const quint64 first = log.last.load();
    timer.setInterval(1);
    QVERIFY(!timer.isCurrent(first));
    QTRY_VERIFY(timer.isCurrent(log.last.load()));
    const quint64 second = log.last.load();

    // Only what the row changes: the cleared handler must go while the thread waits for a deadline.
    if (!enabled)
        timer.setEnabled(false);
    if (interval != 1)
        timer.setInterval(interval);
    // Handing over the handler also waits for a tick that had already begun.
    timer.setTickHandler(handler ? log.handler() : TrainTimer::TickHandler());
    const int settled = log.count.load();
    // Another timer's 30 ticks: the timer under test had as many chances to tick.
    std::atomic<int> witnessed{0};
    PreciseTimer witness;
    witness.setTickHandler([&](quint64) { ++witnessed; });
    witness.setInterval(1);
    QTRY_VERIFY(witnessed.load() >= 30);
    QCOMPARE(log.count.load(), settled);

    timer.setTickHandler(log.handler()); // in the cleared row this alone must wake the thread
    if (!enabled)
        timer.setEnabled(true);
    if (interval != 1)
        timer.setInterval(1);
    QVERIFY(enabled || !timer.isCurrent(second)); // switched off and on: a new schedule
    QTRY_VERIFY(log.count.load() >= settled + 3);
}

void tst_PreciseTimer::replacingHandlerWaitsForStalledTick()
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
}

QTEST_GUILESS_MAIN(tst_PreciseTimer)
#include "tst_precisetimer.moc"
