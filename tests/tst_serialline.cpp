// SPDX-License-Identifier: MIT
#include "serial/serialline.h"
#include "serial/seriallines.h"
#include "texts/failures.h"

#include <QBuffer>
#include <QPointer>
#include <QTest>
#include <atomic>
#include <map>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// What the fake device did, shared with the test: the line owns the fake and outlives the test's
// hold on it.
struct Wire
{
    std::mutex mutex;
    std::condition_variable changed;
    qint64 capacity = 1 << 20; // the driver's queue
    bool sending = false;      // bytes leave the line as soon as the driver has them
    QByteArray held;           // in the driver, not yet on the line
    qint32 rate = 0;
    std::map<qint32, qint32> runsAt;       // requested rate -> what the device runs at; 0: refused
    QList<QPair<qint32, QByteArray>> sent; // what left the line, by the rate in force as it left
    qint64 heldAtRelease = -1;

    // Under the lock: bytes leave at the rate in force now, as a UART's would.
    void leave(const QByteArray &bytes)
    {
        if (bytes.isEmpty())
            return;
        if (sent.isEmpty() || sent.last().first != rate)
            sent.append(qMakePair(rate, QByteArray()));
        sent.last().second.append(bytes);
    }
    // A reader that takes what the driver holds now; and, given `go`, all that comes after.
    void letGo(bool go = true)
    {
        std::lock_guard lock(mutex);
        sending = go;
        leave(std::exchange(held, QByteArray()));
        changed.notify_all();
    }
};

class FakeDriver final : public LineDriver
{
public:
    explicit FakeDriver(std::shared_ptr<Wire> wire)
        : m_wire(std::move(wire))
    {}

    Pushed push(const char *data, std::int64_t size) override
    {
        std::lock_guard lock(m_wire->mutex);
        const qint64 taken =
            m_wire->sending ? size : qMin(size, m_wire->capacity - m_wire->held.size());
        if (m_wire->sending)
            m_wire->leave(QByteArray(data, taken));
        else
            m_wire->held.append(data, taken);
        return {taken, taken < size ? Status::WouldBlock : Status::Ok};
    }
    std::int64_t queued() const override
    {
        std::lock_guard lock(m_wire->mutex);
        return m_wire->held.size();
    }
    bool writeInFlight() const override { return false; }
    Status waitWritable(int timeoutMs) override
    {
        std::unique_lock lock(m_wire->mutex);
        const bool room = m_wire->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return m_wire->sending || m_wire->held.size() < m_wire->capacity;
        });
        return room ? Status::Ok : Status::WouldBlock;
    }
    Status drain() override
    {
        std::unique_lock lock(m_wire->mutex);
        m_wire->changed.wait(lock, [&] { return m_wire->held.isEmpty(); });
        return Status::Ok;
    }
    void discardPending() override
    {
        std::lock_guard lock(m_wire->mutex);
        m_wire->held.clear(); // dropped, never on the line
        m_wire->changed.notify_all();
    }
    Status setRate(std::int32_t rate, std::int32_t *applied) override
    {
        std::lock_guard lock(m_wire->mutex);
        const qint32 runsAt = m_wire->runsAt.try_emplace(rate, rate).first->second;
        if (runsAt == 0)
            return Status::Failed;
        *applied = m_wire->rate = runsAt;
        return Status::Ok;
    }
    Status setModemLine(ModemLine, bool) override { return Status::Ok; }
    Status claimExclusive() override { return Status::Ok; }
    void releaseHandle() override
    {
        std::lock_guard lock(m_wire->mutex);
        m_wire->heldAtRelease = m_wire->held.size();
    }
    int lastError() const override { return 0; }

private:
    std::shared_ptr<Wire> m_wire;
};

using Sent = QList<QPair<qint32, QByteArray>>;

int numberOf(const std::optional<PortFailure> &failure)
{
    return failure ? failure->number : 0;
}

} // namespace

// The line worker on a fake device whose driver queue the test fills and empties.
class tst_SerialLine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void queueBound_data();
    void queueBound();
    void rateAtOpen_data();
    void rateAtOpen();
    void rateStep_data();
    void rateStep();
    void queuedBytesLeaveWhileOpen();
    void endClosesEachLineOnceDrained();

private:
    std::shared_ptr<SerialLine> start(qint32 rate);
    PortDevice::FailureHandler handler()
    {
        return [this](const PortFailure &told) { m_told += told.number; };
    }

    SerialLines m_lines;
    QString m_path; // one per case: a line a failed case leaves behind blocks no other
    std::shared_ptr<Wire> m_wire;
    std::shared_ptr<SerialLine> m_line; // released at the end of each case
    QPointer<QBuffer> m_port;
    std::optional<PortFailure> m_refused; // by the last start
    std::atomic<int> m_told{0};           // the numbers of background failures, added up
};

void tst_SerialLine::init()
{
    static int cases = 0;
    m_path = u"/fake/line%1"_s.arg(++cases);
    m_wire = std::make_shared<Wire>();
    m_told = 0;
}

void tst_SerialLine::cleanup()
{
    if (m_line)
        m_line->release();
    m_line.reset();
    m_wire->letGo();
    QTRY_COMPARE(m_lines.inUse(), 0);
}

std::shared_ptr<SerialLine> tst_SerialLine::start(qint32 rate)
{
    auto port = std::make_unique<QBuffer>();
    port->open(QIODevice::WriteOnly);
    m_port = port.get();
    m_refused.reset();
    m_line = m_lines.start(m_path, std::make_unique<FakeDriver>(m_wire), std::move(port), rate,
                           handler(), &m_refused);
    return m_line;
}

void tst_SerialLine::queueBound_data()
{
    QTest::addColumn<qint64>("driverTakes");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("train");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    QTest::newRow("the driver's bytes count")
        << qint64(770) << 770 << 300
        << "ceka jos 770 bajtova, a 300 novih ne staje u 1024; povorka nije poslata; linija ih "
           "salje jos oko 70 s";
    QTest::newRow("ours and the driver's: full") << qint64(300) << 700 << 324 << "";
    QTest::newRow("ours and the driver's: one over") << qint64(300) << 700 << 325 << "64 s";
}

void tst_SerialLine::queueBound()
{
    QFETCH(qint64, driverTakes);
    QFETCH(int, first);
    QFETCH(int, train);
    QFETCH(QString, refusal);
    m_wire->capacity = driverTakes;
    const auto line = start(110);
    QVERIFY(line);
    QCOMPARE(numberOf(line->write(QByteArray(first, 'a'), 1024)), 0);
    const auto failure = line->write(QByteArray(train, 'b'), 1024);
    QCOMPARE(numberOf(failure), refusal.isEmpty() ? 0 : int(PortError::QueueFull));
    if (failure) {
        QVERIFY2(failure->description.endsWith(refusal), qPrintable(failure->description));
        QCOMPARE(line->waiting(), qint64(first)); // nothing of it was written
    }
}

void tst_SerialLine::rateAtOpen_data()
{
    QTest::addColumn<qint32>("runsAt"); // 0: refused
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0.99 % off") << 9695 << true;
    QTest::newRow("1.01 % off") << 9697 << false;
    QTest::newRow("refused") << 0 << false;
}

// A device that would run more than 1 % off is not opened: the far end would get garbled bytes.
void tst_SerialLine::rateAtOpen()
{
    QFETCH(qint32, runsAt);
    QFETCH(bool, accepted);
    m_wire->runsAt[9600] = runsAt;
    QCOMPARE(bool(start(9600)), accepted);
    QCOMPARE(numberOf(m_refused), accepted ? 0 : int(PortError::RateNotAccepted));
    QCOMPARE(m_port.isNull(), !accepted); // a refused device is closed at once
}

void tst_SerialLine::rateStep_data()
{
    QTest::addColumn<qint32>("runsAt"); // what the device makes of 19200; 0: refused
    QTest::addColumn<bool>("closedFirst");
    QTest::newRow("applied") << 19200 << false;
    QTest::newRow("refused") << 0 << false;
    QTest::newRow("more than 1 % off") << 19500 << false;
    QTest::newRow("refused after the close") << 0 << true;
}

// A set-up at 19200 takes over a line still draining at 9600: what it writes goes out at 19200
// after the old bytes, or, when the device cannot do 19200, not at all and 205 is told once.
void tst_SerialLine::rateStep()
{
    QFETCH(qint32, runsAt);
    QFETCH(bool, closedFirst);
    m_wire->runsAt[19200] = runsAt;
    const bool applied = runsAt == 19200;
    m_wire->capacity = 2; // "d" of "old" waits in the line's queue, the rest in the driver
    const auto line = start(9600);
    QVERIFY(line);
    QCOMPARE(numberOf(line->write("old", 1024)), 0);
    QCOMPARE(numberOf(line->release()), 0);

    QCOMPARE(m_lines.takeOver(m_path, 19200, handler()).line, line);
    QCOMPARE(numberOf(line->write("new", 1024)), 0);
    if (closedFirst)
        QCOMPARE(numberOf(line->release()), 0);
    // The reader takes a little at a time, so every byte leaves at the rate in force as it goes.
    if (!closedFirst) {
        QTRY_COMPARE((m_wire->letGo(false), line->waiting()), qint64(0)); // the step is through
        QCOMPARE(numberOf(line->write("more", 1024)),
                 applied ? 0 : int(PortError::RateNotAccepted));
    }
    line->release();
    QTRY_COMPARE((m_wire->letGo(false), m_lines.inUse()), 0);
    std::lock_guard lock(m_wire->mutex);
    QCOMPARE(m_wire->sent,
             applied ? Sent({{9600, "old"}, {19200, "newmore"}}) : Sent({{9600, "old"}}));
    QCOMPARE(m_told.load(), closedFirst ? int(PortError::RateNotAccepted) : 0); // told once
}

// What the driver could not take at once goes out as it makes room, while the line stays open:
// also once the worker has come to rest after the last of it.
void tst_SerialLine::queuedBytesLeaveWhileOpen()
{
    m_wire->capacity = 3;
    const auto line = start(9600);
    QVERIFY(line);
    for (const char *train : {"abcdef", "ghijkl"}) {
        m_wire->letGo(false); // the reader stalls: three bytes fit the driver
        QCOMPARE(numberOf(line->write(train, 1024)), 0);
        m_wire->letGo();
        QTRY_COMPARE(line->waiting(), qint64(0));
    }
    std::lock_guard lock(m_wire->mutex);
    QCOMPARE(m_wire->sent, Sent({{9600, "abcdefghijkl"}}));
}

// The program's end lets even a held line go: it closes once its bytes have left, keeping them,
// and the end waits no longer than that (a fault here waits out the hour: the test's time bound).
void tst_SerialLine::endClosesEachLineOnceDrained()
{
    SerialLines lines;
    m_wire->capacity = 3;
    m_wire->letGo(false);
    auto port = std::make_unique<QBuffer>();
    port->open(QIODevice::WriteOnly);
    const auto line = lines.start(m_path, std::make_unique<FakeDriver>(m_wire), std::move(port),
                                  9600, handler(), &m_refused);
    QVERIFY(line);
    QCOMPARE(numberOf(line->write("abcdef", 1024)), 0);
    std::thread reader([wire = m_wire] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wire->letGo();
    });
    const SerialLines::Tally tally = lines.finish(std::chrono::hours(1));
    reader.join();
    QCOMPARE(tally.written, qint64(6));
    QCOMPARE(tally.lost, qint64(0));
    QCOMPARE(m_wire->heldAtRelease, qint64(0));
    QCOMPARE(m_wire->sent, Sent({{9600, "abcdef"}}));
}

QTEST_GUILESS_MAIN(tst_SerialLine)
#include "tst_serialline.moc"
