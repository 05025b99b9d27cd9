#include "train/precisetimer.h"

#include <QTest>
#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = PreciseTimer::Clock;

namespace {

// Something to wait for when a test must show that nothing happens: another timer's ticks.
// Once it has ticked n times, the timer under test had as many chances to tick too.
void letTimePass(int ticks = 30)
{
    std::atomic<int> seen{0};
    PreciseTimer witness;
    witness.setTickHandler([&](quint64) { ++seen; });
    witness.setInterval(1);
    QTRY_VERIFY(seen.load() >= ticks);
}

// Records every call of a tick handler: its schedule, whether the schedule was still current and
// whether two calls ever overlapped.
struct TickLog
{
    std::mutex mutex;
    std::vector<quint64> schedules;
    std::vector<bool> current;
    std::atomic<int> count{0};
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};

    TrainTimer::TickHandler handler(const TrainTimer &timer)
    {
        return [this, &timer](quint64 schedule) {
            if (inside.fetch_add(1) != 0)
                overlapped = true;
            {
                std::lock_guard lock(mutex);
                schedules.push_back(schedule);
                current.push_back(timer.isCurrent(schedule));
            }
            ++count;
            inside.fetch_sub(1);
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

    void startsAsTheWindowTimer();
    void ticksWhileEnabled();
    void noTicks_data();
    void noTicks();
    void commandsEndOlderSchedules();
    void disableStopsTicks();
    void replacingHandlerWaitsForRunningTick();
    void replacingHandlerFromInsideATick();
    void clearingHandlerWhileArmed();
    void stalledTickSkipsAndCounts();
    void destructionWhileTicking();
    void destructionWaitsForRunningTick();
};

void tst_PreciseTimer::nextDeadline_data()
{
    // Times in microseconds after the deadline just served.
    QTest::addColumn<qint64>("periodUs");
    QTest::addColumn<qint64>("nowUs");
    QTest::addColumn<qint64>("deadlineUs");
    QTest::addColumn<quint64>("skipped");

    QTest::newRow("on time") << qint64(10000) << qint64(120) << qint64(10000) << quint64(0);
    QTest::newRow("handler returned at once")
        << qint64(1000) << qint64(0) << qint64(1000) << quint64(0);
    QTest::newRow("exactly on the next deadline")
        << qint64(10000) << qint64(10000) << qint64(10000) << quint64(0);
    QTest::newRow("just past the next deadline")
        << qint64(10000) << qint64(10001) << qint64(20000) << quint64(1);
    QTest::newRow("late by less than a period")
        << qint64(10000) << qint64(14000) << qint64(20000) << quint64(1);
    QTest::newRow("late by several periods")
        << qint64(10000) << qint64(45000) << qint64(50000) << quint64(4);
    QTest::newRow("exactly on a later deadline")
        << qint64(10000) << qint64(30000) << qint64(30000) << quint64(2);
    QTest::newRow("1 ms, a second's stall")
        << qint64(1000) << qint64(1000500) << qint64(1001000) << quint64(1000);
    QTest::newRow("longest period, short stall")
        << qint64(32767000) << qint64(32767001) << qint64(65534000) << quint64(1);
    QTest::newRow("no period: now") << qint64(0) << qint64(777) << qint64(777) << quint64(0);
}

void tst_PreciseTimer::nextDeadline()
{
    QFETCH(qint64, periodUs);
    QFETCH(qint64, nowUs);
    QFETCH(qint64, deadlineUs);
    QFETCH(quint64, skipped);

    // Away from the clock's zero, as real deadlines are.
    const Clock::time_point previous(std::chrono::hours(100));
    const auto next = PreciseTimer::nextDeadline(previous, std::chrono::microseconds(periodUs),
                                                 previous + std::chrono::microseconds(nowUs));
    QCOMPARE(
        std::chrono::duration_cast<std::chrono::microseconds>(next.deadline - previous).count(),
        deadlineUs);
    QCOMPARE(next.skipped, skipped);
}

void tst_PreciseTimer::startsAsTheWindowTimer()
{
    PreciseTimer timer;
    QVERIFY(timer.isEnabled());
    QCOMPARE(timer.interval(), 0);
    QCOMPARE(timer.missedDeadlines(), quint64(0));
    timer.setInterval(-5);
    QCOMPARE(timer.interval(), 0);
}

void tst_PreciseTimer::ticksWhileEnabled()
{
    TickLog log; // outlives the timer, whose thread writes to it
    PreciseTimer timer;
    timer.setTickHandler(log.handler(timer));
    timer.setInterval(1);
    QTRY_VERIFY(log.count.load() >= 20);
    // Taken before anything changes the schedule: every tick so far was current.
    std::vector<quint64> schedules;
    std::vector<bool> current;
    {
        std::lock_guard lock(log.mutex);
        schedules = log.schedules;
        current = log.current;
    }
    timer.setEnabled(false);

    QVERIFY(!log.overlapped);
    for (size_t i = 0; i < schedules.size(); ++i) {
        QCOMPARE(schedules[i], schedules.front());
        QVERIFY(current[i]);
    }
}

void tst_PreciseTimer::noTicks_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("enabled, interval 0") << 0 << true;
    QTest::newRow("disabled, interval 1") << 1 << false;
    QTest::newRow("disabled, interval 0") << 0 << false;
    QTest::newRow("negative interval") << -10 << true;
}

void tst_PreciseTimer::noTicks()
{
    QFETCH(int, interval);
    QFETCH(bool, enabled);

    TickLog log; // outlives the timer, whose thread writes to it
    PreciseTimer timer;
    timer.setTickHandler(log.handler(timer));
    timer.setInterval(interval);
    timer.setEnabled(enabled);
    letTimePass();
    QCOMPARE(log.count.load(), 0);
}

void tst_PreciseTimer::commandsEndOlderSchedules()
{
    TickLog log; // outlives the timer, whose thread writes to it
    PreciseTimer timer;
    timer.setTickHandler(log.handler(timer));
    timer.setInterval(1);
    QTRY_VERIFY(log.count.load() >= 1);
    quint64 first = 0;
    {
        std::lock_guard lock(log.mutex);
        first = log.schedules.front();
    }
    QVERIFY(timer.isCurrent(first));

    // Setting the same interval again still starts a new schedule.
    timer.setInterval(1);
    QVERIFY(!timer.isCurrent(first));
    const int before = log.count.load();
    QTRY_VERIFY(log.count.load() >= before + 5);
    quint64 second = 0;
    {
        std::lock_guard lock(log.mutex);
        second = log.schedules.back();
    }
    QVERIFY(second != first);
    QVERIFY(timer.isCurrent(second));

    timer.setEnabled(false);
    QVERIFY(!timer.isCurrent(second));
    timer.setEnabled(true);
    QVERIFY(!timer.isCurrent(second));
    QTRY_VERIFY(log.count.load() >= before + 10);

    // Schedules only grow: a later tick never carries an older schedule.
    std::lock_guard lock(log.mutex);
    for (size_t i = 1; i < log.schedules.size(); ++i)
        QVERIFY(log.schedules[i] >= log.schedules[i - 1]);
}

void tst_PreciseTimer::disableStopsTicks()
{
    TickLog log;
    TickLog after;
    TickLog last;
    PreciseTimer timer;
    timer.setTickHandler(log.handler(timer));
    timer.setInterval(1);
    QTRY_VERIFY(log.count.load() >= 3);

    timer.setEnabled(false);
    // A tick that had already begun may finish; handing over the handler waits for it.
    timer.setTickHandler(after.handler(timer));
    const int settled = log.count.load();
    letTimePass();
    QCOMPARE(log.count.load(), settled);
    QCOMPARE(after.count.load(), 0);

    // Interval 0 while enabled stops them just as well.
    timer.setEnabled(true);
    QTRY_VERIFY(after.count.load() >= 3);
    timer.setInterval(0);
    timer.setTickHandler(last.handler(timer));
    letTimePass();
    QCOMPARE(last.count.load(), 0);
}

void tst_PreciseTimer::replacingHandlerWaitsForRunningTick()
{
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> oldFinished{false};
    std::atomic<int> oldCalls{0};
    std::atomic<int> newCalls{0};
    std::atomic<bool> sawOldFinished{false};
    std::atomic<bool> replaced{false};
    PreciseTimer timer; // last: its thread uses everything above until it is gone
    timer.setTickHandler([&, released](quint64) {
        if (oldCalls.fetch_add(1) == 0) {
            entered.set_value();
            released.wait();
        }
        oldFinished = true;
    });
    timer.setInterval(1);
    entered.get_future().wait();

    std::thread replacer([&] {
        timer.setTickHandler([&](quint64) { ++newCalls; });
        sawOldFinished = oldFinished.load();
        replaced = true;
    });
    // Give the replacer every chance to return too early, then let the tick end.
    letTimePass(5);
    const bool returnedEarly = replaced;
    release.set_value();
    replacer.join();

    QVERIFY(!returnedEarly);
    QVERIFY(sawOldFinished);
    // No tick of the old handler slipped in between the running one and the replacement.
    QCOMPARE(oldCalls.load(), 1);
    QTRY_VERIFY(newCalls.load() >= 3);
    QCOMPARE(oldCalls.load(), 1);
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

void tst_PreciseTimer::clearingHandlerWhileArmed()
{
    TickLog log;
    TickLog resumed;
    PreciseTimer timer;
    timer.setTickHandler(log.handler(timer));
    timer.setInterval(1);
    QTRY_VERIFY(log.count.load() >= 3);

    // An armed timer without a handler must simply stay quiet, not call an empty one.
    timer.setTickHandler({});
    const int settled = log.count.load();
    letTimePass();
    QCOMPARE(log.count.load(), settled);

    timer.setTickHandler(resumed.handler(timer));
    QTRY_VERIFY(resumed.count.load() >= 3);
    std::lock_guard lock(resumed.mutex);
    QVERIFY(resumed.current.front());
}

void tst_PreciseTimer::stalledTickSkipsAndCounts()
{
    std::atomic<int> calls{0};
    PreciseTimer timer;
    timer.setTickHandler([&](quint64) {
        // The first tick holds the thread for at least ten periods, as a stalled machine would.
        if (calls.fetch_add(1) == 0)
            std::this_thread::sleep_for(10ms);
    });
    timer.setInterval(1);
    QTRY_VERIFY(calls.load() >= 3);
    // At least the nine deadlines that passed wholly inside the stall were skipped.
    QVERIFY2(timer.missedDeadlines() >= 9, QByteArray::number(timer.missedDeadlines()));

    // The count stays when a new schedule starts: it covers the timer's whole life.
    const quint64 missed = timer.missedDeadlines();
    timer.setInterval(1);
    QVERIFY(timer.missedDeadlines() >= missed);
}

void tst_PreciseTimer::destructionWhileTicking()
{
    // Many short lives at the shortest period, ended at whatever point the thread is.
    for (int round = 0; round < 50; ++round) {
        auto calls = std::make_shared<std::atomic<int>>(0);
        {
            PreciseTimer timer;
            timer.setTickHandler([calls](quint64) { ++*calls; });
            timer.setInterval(1);
            if (round % 2 == 0)
                QTRY_VERIFY(calls->load() >= 1);
        }
        // The handler's copy inside the timer is gone with it.
        QCOMPARE(calls.use_count(), 1L);
    }
}

void tst_PreciseTimer::destructionWaitsForRunningTick()
{
    std::promise<void> entered;
    std::atomic<bool> finished{false};
    std::atomic<int> calls{0};
    auto timer = std::make_unique<PreciseTimer>();
    timer->setTickHandler([&](quint64) {
        if (calls.fetch_add(1) == 0) {
            entered.set_value();
            std::this_thread::sleep_for(20ms);
            finished = true;
        }
    });
    timer->setInterval(1);
    entered.get_future().wait();
    timer.reset();
    QVERIFY(finished);
    const int settled = calls.load();
    letTimePass();
    QCOMPARE(calls.load(), settled);
}

QTEST_GUILESS_MAIN(tst_PreciseTimer)
#include "tst_precisetimer.moc"
