#include "train/trainsender.h"

#include "serial/operatortexts.h"
#include "train/fields.h"

#include <QMetaObject>

namespace {

constexpr qint16 kQueueSize = 1024;
constexpr qint16 kInputLen = 1;

} // namespace

TrainSender::TrainSender(Panel &panel, CommControl &port, TrainTimer &timer, Messenger &messenger,
                         QObject *parent)
    : QObject(parent)
    , m_panel(panel)
    , MSCommPort(port)
    , timerSlanjePovorki(timer)
    , m_messenger(messenger)
{
    timerSlanjePovorki.setTickHandler([this](quint64 schedule) { onTimerTick(schedule); });
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

// Load-time line setting: RTS off, DTR on, boxes matching, while the port is still closed.
void TrainSender::Form_Load()
{
    m_panel.setRtsState(Panel::Unchecked);
    {
        std::lock_guard lock(m_lock);
        MSCommPort.setRTSEnable(false);
    }
    m_panel.setDtrState(Panel::Checked);
    {
        std::lock_guard lock(m_lock);
        MSCommPort.setDTREnable(true);
    }
}

void TrainSender::chkDTR_Click()
{
    lineClick(true);
}

void TrainSender::chkRTS_Click()
{
    lineClick(false);
}

// A line that fails during a repetition ends it as a failed tick does: the report is the one
// for the fault, and no tick comes after it to report the closed port again.
void TrainSender::lineClick(bool dtr)
{
    const int state = dtr ? m_panel.dtrState() : m_panel.rtsState();
    if (state == Panel::Grayed)
        return;
    std::optional<PortFailure> failure;
    {
        std::lock_guard lock(m_lock);
        const bool on = state == Panel::Checked;
        failure = dtr ? MSCommPort.setDTREnable(on) : MSCommPort.setRTSEnable(on);
        if (failure && m_repeating) {
            endRepetitionLocked(*failure);
            return;
        }
    }
    if (failure)
        report(*failure);
}

std::optional<PortFailure> TrainSender::setUpLocked()
{
    const QString settings = Fields::settingsText(m_panel.bitRateText());
    if (MSCommPort.portOpen())
        return std::nullopt; // a changed number or rate waits for the next close

    const QString portText = m_panel.portText();
    const auto number = Fields::toInteger16(portText);
    if (!number)
        return Fields::isWholeNumber(portText) ? OperatorText::portOutOfRange(portText)
                                               : OperatorText::portNotANumber(portText);
    if (auto f = MSCommPort.setCommPort(*number))
        return f;
    if (auto f = MSCommPort.setSettings(settings))
        return f;
    if (auto f = MSCommPort.setInBufferSize(kQueueSize))
        return f;
    if (auto f = MSCommPort.setOutBufferSize(kQueueSize))
        return f;
    if (auto f = MSCommPort.setInputLen(kInputLen))
        return f;
    return MSCommPort.setPortOpen(true);
}

qint16 TrainSender::SetUpCommPort()
{
    std::optional<PortFailure> failure;
    {
        std::lock_guard lock(m_lock);
        failure = setUpLocked();
    }
    if (failure) {
        report(*failure);
        return -1;
    }
    return 0;
}

std::optional<PortFailure> TrainSender::closeLocked()
{
    if (!MSCommPort.portOpen())
        return std::nullopt;
    return MSCommPort.setPortOpen(false);
}

void TrainSender::CloseCommPort()
{
    std::optional<PortFailure> failure;
    {
        std::lock_guard lock(m_lock);
        failure = closeLocked();
    }
    if (failure)
        report(*failure);
}

// One string, one write; an empty train writes nothing.
std::optional<PortFailure> TrainSender::sendLocked()
{
    if (BrojBajtova <= 0)
        return std::nullopt;
    const QByteArray bytes(reinterpret_cast<const char *>(Povorka.data()), BrojBajtova);
    return MSCommPort.setOutput(bytes);
}

void TrainSender::stopLocked()
{
    timerSlanjePovorki.setEnabled(false);
    m_repeating = false;
}

// A failed send ends the repetition at once: timer off, port closed, one report later on the
// window's thread. Nothing else is sent in between.
void TrainSender::tickLocked()
{
    auto failure = sendLocked();
    if (!failure) {
        ++m_sent;
        return;
    }
    endRepetitionLocked(*failure);
}

void TrainSender::endRepetitionLocked(const PortFailure &failure)
{
    stopLocked();
    closeLocked(); // the failure that ended it is the one worth reporting
    if (!m_pendingFailure)
        m_pendingFailure = failure;
    QMetaObject::invokeMethod(
        this,
        [this] {
            emit repeatingChanged(false);
            showPendingFailure();
        },
        Qt::QueuedConnection);
}

void TrainSender::onTimerTick(quint64 schedule)
{
    std::lock_guard lock(m_lock);
    if (!m_repeating || !timerSlanjePovorki.isCurrent(schedule))
        return;
    tickLocked();
}

void TrainSender::timerSlanjePovorki_Timer()
{
    std::lock_guard lock(m_lock);
    tickLocked();
}

void TrainSender::endForExit()
{
    bool wasRepeating = false;
    {
        std::lock_guard lock(m_lock);
        wasRepeating = m_repeating;
        stopLocked();
        closeLocked();
        m_pendingFailure.reset();
    }
    if (wasRepeating)
        emit repeatingChanged(false);
}

void TrainSender::cmdJednom_Click()
{
    showPendingFailure();
    const QString text = m_panel.trainText();
    const qint64 bytes = trainByteCount(text);
    if (bytes > trainCapacity(Terminator::None)) {
        showCritical(OperatorText::trainTooLong(bytes, trainCapacity(Terminator::None)));
        return;
    }

    std::optional<PortFailure> failure;
    bool endedRepetition = false;
    {
        std::lock_guard lock(m_lock);
        failure = setUpLocked();
        if (!failure) {
            // Sending once ends a repetition; its port is reused for this train.
            if (m_repeating) {
                stopLocked();
                endedRepetition = true;
            }
            walkTrain(text, Terminator::None, Povorka, BrojBajtova);
            failure = sendLocked();
            auto closeFailure = closeLocked();
            if (!failure)
                failure = closeFailure;
        }
    }
    if (endedRepetition)
        emit repeatingChanged(false);
    if (failure)
        report(*failure);
}

void TrainSender::cmdPonavljanje_Click()
{
    showPendingFailure();
    const QString text = m_panel.trainText();
    const qint64 bytes = trainByteCount(text);
    if (bytes > trainCapacity(Terminator::Zero)) {
        showCritical(OperatorText::trainTooLong(bytes, trainCapacity(Terminator::Zero)));
        return;
    }
    const QString periodText = m_panel.periodText();
    const auto period = Fields::periodMs(periodText);
    if (!period) {
        showCritical(OperatorText::badPeriod(periodText));
        return;
    }

    std::optional<PortFailure> failure;
    bool started = false;
    {
        std::lock_guard lock(m_lock);
        failure = setUpLocked();
        if (!failure) {
            walkTrain(text, Terminator::Zero, Povorka, BrojBajtova);
            started = !m_repeating;
            if (started) {
                m_sent = 0;
                m_missedAtStart = timerSlanjePovorki.missedDeadlines();
            }
            m_repeating = true;
            timerSlanjePovorki.setInterval(*period);
            timerSlanjePovorki.setEnabled(true);
        }
    }
    if (started)
        emit repeatingChanged(true);
    if (failure)
        report(*failure);
}

void TrainSender::cmdStop_Click()
{
    std::optional<PortFailure> failure;
    bool wasRepeating = false;
    {
        std::lock_guard lock(m_lock);
        wasRepeating = m_repeating;
        stopLocked();
        failure = closeLocked();
    }
    if (wasRepeating)
        emit repeatingChanged(false);
    if (failure)
        report(*failure);
}

bool TrainSender::isRepeating() const
{
    std::lock_guard lock(m_lock);
    return m_repeating;
}

qint16 TrainSender::brojBajtova() const
{
    std::lock_guard lock(m_lock);
    return BrojBajtova;
}

PovorkaBuffer TrainSender::povorka() const
{
    std::lock_guard lock(m_lock);
    return Povorka;
}

QByteArray TrainSender::train() const
{
    std::lock_guard lock(m_lock);
    return QByteArray(reinterpret_cast<const char *>(Povorka.data()), qMax<qint16>(BrojBajtova, 0));
}

quint64 TrainSender::deadlinesMissed() const
{
    std::lock_guard lock(m_lock);
    return timerSlanjePovorki.missedDeadlines() - m_missedAtStart;
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

void TrainSender::showPendingFailure()
{
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
