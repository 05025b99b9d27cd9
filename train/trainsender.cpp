// SPDX-License-Identifier: MIT
#include "train/trainsender.h"

#include "texts/failures.h"
#include "train/fields.h"

#include <QMetaObject>
#include <algorithm>
#include <utility>

namespace {

constexpr qint16 kQueueSize = 1024;

} // namespace

TrainSender::TrainSender(Panel &panel, CommControl &port, TrainTimer &timer, Messenger &messenger,
                         QObject *parent)
    : QObject(parent)
    , m_panel(panel)
    , MSCommPort(port)
    , timerSlanjePovorki(timer)
    , m_messenger(messenger)
{
    timerSlanjePovorki.setTickHandler(
        [this](quint64 schedule) { timerSlanjePovorki_Timer(schedule); });
    connect(&MSCommPort, &CommControl::failedInBackground, this, [this](const PortFailure &f) {
        {
            std::lock_guard lock(m_lock);
            if (!m_pendingFailure)
                m_pendingFailure = f;
        }
        showPendingFailure();
    });
}

TrainSender::~TrainSender()
{
    // No tick may run into a half-destroyed sender; this waits for one in flight.
    timerSlanjePovorki.setTickHandler({});
}

// Every command runs the same way: its step under the lock, then, with the lock released, the
// news that a repetition started or ended and the failure the step ran into (or one a tick left).
bool TrainSender::act(const Step &step)
{
    std::optional<PortFailure> failure;
    {
        std::lock_guard lock(m_lock);
        failure = step();
    }
    announceRepeating();
    if (failure)
        report(*failure);
    showPendingFailure();
    return !failure;
}

// Load-time line setting: RTS off, DTR on, boxes matching, while the port is still closed. Each
// line is set once, by its box's handler.
void TrainSender::Form_Load()
{
    m_panel.setRtsState(Panel::CheckState::Unchecked);
    chkRTS_Click();
    m_panel.setDtrState(Panel::CheckState::Checked);
    chkDTR_Click();
}

void TrainSender::chkDTR_Click()
{
    lineClick(LineDriver::ModemLine::Dtr);
}

void TrainSender::chkRTS_Click()
{
    lineClick(LineDriver::ModemLine::Rts);
}

// A line that fails during a repetition ends it as a failed send does: the report is the one
// for the fault, and no tick comes after it to report the closed port again.
void TrainSender::lineClick(LineDriver::ModemLine line)
{
    const bool dtr = line == LineDriver::ModemLine::Dtr;
    const Panel::CheckState state = dtr ? m_panel.dtrState() : m_panel.rtsState();
    if (state == Panel::CheckState::Grayed)
        return;
    const bool on = state == Panel::CheckState::Checked;
    act([&]() -> std::optional<PortFailure> {
        auto failure = dtr ? MSCommPort.setDTREnable(on) : MSCommPort.setRTSEnable(on);
        if (failure && m_repeating) {
            failLocked(*failure);
            return std::nullopt;
        }
        return failure;
    });
}

std::optional<PortFailure> TrainSender::setUpLocked()
{
    const QString settings = Fields::settingsText(m_panel.bitRateText());
    if (MSCommPort.portOpen()) {
        m_output = MSCommPort.output();
        return std::nullopt; // a changed number or rate waits for the next close
    }

    const QString portText = m_panel.portText();
    const auto number = Fields::toInteger16(portText);
    if (!number)
        return Fields::portRefusal(portText); // not a number, or out of range
    if (auto f = MSCommPort.setCommPort(*number))
        return f;
    if (auto f = MSCommPort.setSettings(settings))
        return f;
    if (auto f = MSCommPort.setOutBufferSize(kQueueSize))
        return f;
    if (auto f = MSCommPort.setPortOpen(true))
        return f;
    m_output = MSCommPort.output();
    return std::nullopt;
}

qint16 TrainSender::SetUpCommPort()
{
    return act([this] { return setUpLocked(); }) ? 0 : -1;
}

std::optional<PortFailure> TrainSender::closeLocked()
{
    m_output = PortOutput();
    if (!MSCommPort.portOpen())
        return std::nullopt;
    return MSCommPort.setPortOpen(false);
}

void TrainSender::CloseCommPort()
{
    act([this] { return closeLocked(); });
}

void TrainSender::stopLocked()
{
    timerSlanjePovorki.setEnabled(false);
    m_repeating = false;
}

// A failed write or line ends the repetition at once: timer off, port closed (the failure that
// ended it is the one worth reporting), shown once later on the window's thread. A tick runs
// this on the timer's thread, so the device is closed through the output, not the port object;
// the port object finds it closed.
void TrainSender::failLocked(const PortFailure &failure)
{
    stopLocked();
    std::exchange(m_output, PortOutput()).close();
    if (!m_pendingFailure)
        m_pendingFailure = failure;
}

// A train decoded before the lock is taken: the slots the walk wrote (the rest of the buffer
// keeps what earlier walks left there) and the bytes a send writes.
struct TrainSender::Walked
{
    PovorkaBuffer buffer{};
    qint16 count = 0;
    int written = 0; // slots of `buffer` the walk filled: the bytes and the terminating zero
    QByteArray bytes;
    bool refused = false;
};

TrainSender::Walked TrainSender::walk(const QString &text, Terminator terminator)
{
    Walked walked;
    walked.refused = walkTrain(text, terminator, walked.buffer, walked.count).has_value();
    walked.written = walked.count + (terminator == Terminator::Zero ? 1 : 0);
    walked.bytes = QByteArray(reinterpret_cast<const char *>(walked.buffer.data()), walked.count);
    return walked;
}

// The old bytes go back in `walked`, to be freed after the lock is released.
void TrainSender::takeLocked(Walked &walked)
{
    if (walked.refused)
        return;
    std::copy_n(walked.buffer.begin(), walked.written, Povorka.begin());
    BrojBajtova = walked.count;
    m_train.swap(walked.bytes);
}

// One string, one write; an empty train writes nothing.
void TrainSender::timerSlanjePovorki_Timer(std::optional<quint64> tick)
{
    std::lock_guard lock(m_lock);
    if (tick && (!m_repeating || !timerSlanjePovorki.isCurrent(*tick)))
        return;
    std::optional<PortFailure> failure;
    if (BrojBajtova > 0)
        failure = m_output.write(m_train);
    if (!failure) {
        if (tick)
            ++m_sent;
        return;
    }
    failLocked(*failure);
    QMetaObject::invokeMethod(
        this, [this] { showPendingFailure(); }, Qt::QueuedConnection);
}

void TrainSender::endForExit()
{
    act([this]() -> std::optional<PortFailure> {
        stopLocked();
        closeLocked();
        m_pendingFailure.reset();
        return std::nullopt;
    });
}

bool TrainSender::refusedAsTooLong(const QString &text, Terminator terminator)
{
    const qint64 bytes = trainByteCount(text);
    if (Fields::trainFits(bytes, terminator))
        return false;
    showCritical(OperatorText::trainTooLong(bytes, trainCapacity(terminator)));
    return true;
}

void TrainSender::cmdJednom_Click()
{
    showPendingFailure();
    const QString text = m_panel.trainText();
    if (refusedAsTooLong(text, Terminator::None))
        return;
    Walked train = walk(text, Terminator::None);
    const bool ready = act([&] {
        auto failure = setUpLocked();
        if (!failure) {
            // Sending once ends a repetition (the timer is left alone otherwise); its port is
            // reused for this train.
            if (m_repeating)
                stopLocked();
            takeLocked(train);
        }
        return failure;
    });
    if (!ready)
        return;
    timerSlanjePovorki_Timer();
    CloseCommPort();
}

void TrainSender::cmdPonavljanje_Click()
{
    showPendingFailure();
    const QString text = m_panel.trainText();
    if (refusedAsTooLong(text, Terminator::Zero))
        return;
    const QString periodText = m_panel.periodText();
    const auto period = Fields::periodMs(periodText);
    if (!period) {
        showCritical(isRepeating()
                         ? OperatorText::badPeriodGoesOn(periodText, timerSlanjePovorki.interval())
                         : OperatorText::badPeriod(periodText));
        return;
    }
    Walked train = walk(text, Terminator::Zero);
    act([&] {
        auto failure = setUpLocked();
        if (failure)
            return failure;
        takeLocked(train);
        if (!m_repeating) {
            m_sent = 0;
            m_missedAtStart = timerSlanjePovorki.missedDeadlines();
        }
        m_repeating = true;
        timerSlanjePovorki.setInterval(*period);
        timerSlanjePovorki.setEnabled(true);
        return failure;
    });
}

void TrainSender::cmdStop_Click()
{
    act([this] {
        stopLocked();
        return closeLocked();
    });
}

bool TrainSender::isRepeating() const
{
    return m_repeating;
}

PovorkaBuffer TrainSender::povorka() const
{
    std::lock_guard lock(m_lock);
    return Povorka;
}

// The start is read first: it was taken from the same count, which only grows, so the difference
// never wraps even while a new repetition sets it.
quint64 TrainSender::deadlinesMissed() const
{
    const quint64 start = m_missedAtStart;
    return timerSlanjePovorki.missedDeadlines() - start;
}

void TrainSender::report(const PortFailure &failure)
{
    showCritical(OperatorText::report(failure));
}

// Boxes never stack: a failure that arrives while one is up waits until it is dismissed.
void TrainSender::showCritical(const QString &text)
{
    m_inMessage = true;
    m_messenger.critical(OperatorText::reportTitle(), text);
    m_inMessage = false;
    showPendingFailure();
}

// The listeners hear each change once and in order, on our thread: a repetition a tick ended is
// told before a later command starts the next one, and never after it.
void TrainSender::announceRepeating()
{
    const bool now = isRepeating();
    if (std::exchange(m_announced, now) != now)
        emit repeatingChanged(now);
}

void TrainSender::showPendingFailure()
{
    announceRepeating();
    if (m_inMessage)
        return;
    std::optional<PortFailure> failure;
    {
        std::lock_guard lock(m_lock);
        failure.swap(m_pendingFailure);
    }
    if (failure)
        report(*failure);
}
