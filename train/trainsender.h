// SPDX-License-Identifier: MIT
#pragma once

#include "serial/commcontrol.h"
#include "serial/linedriver.h"
#include "train/decoder.h"
#include "train/panel.h"
#include "train/rtlock.h"
#include "train/traintimer.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <optional>

// The window's logic: the port set-up and close, the line boxes, and the three send commands
// with the send routine. The window forwards each of its handlers here. Commands run on the
// window's thread and drive the port object; ticks run on the timer's thread and reach the port
// only through its open device (PortOutput). Both hold one lock while they touch the port or the
// train, so a send never overlaps a command, and a command that returns has the last word: a tick
// of an older schedule does nothing. Message boxes are shown only after the lock is released.
//
// The lock stands on the tick's way to the line, so the window's thread holds it only for what
// must not overlap a send: a command's port calls and the exchange of the train, never the
// decoding. It inherits priority (a command holding it is lent the tick's real-time priority),
// and what the window polls (the repetition flag, the counters) is read without it. A tick
// writes the train it was given, built once per command; it makes nothing of its own.
class TrainSender : public QObject
{
    Q_OBJECT

public:
    TrainSender(Panel &panel, CommControl &port, TrainTimer &timer, Messenger &messenger,
                QObject *parent = nullptr);
    ~TrainSender() override;

    void Form_Load();
    void chkDTR_Click();
    void chkRTS_Click();
    qint16 SetUpCommPort(); // 0 or -1
    void CloseCommPort();

    void cmdJednom_Click();
    void cmdPonavljanje_Click();
    void cmdStop_Click();
    // The send routine: the current train in one write. "Jednom" calls it without a schedule;
    // each tick passes its own, and a tick of a schedule no longer running sends nothing.
    void timerSlanjePovorki_Timer(std::optional<quint64> tick = std::nullopt);

    // The program ends: the repetition stops and the port closes (what was written still goes
    // out), with nothing shown any more.
    void endForExit();

    bool isRepeating() const;
    PovorkaBuffer povorka() const;
    // Since the repetition began.
    quint64 trainsSent() const { return m_sent.load(); }
    quint64 deadlinesMissed() const;

signals:
    // A repetition started or ended (also when it ended by a failure).
    void repeatingChanged(bool repeating);

private:
    using Step = std::function<std::optional<PortFailure>()>;
    bool act(const Step &step);
    std::optional<PortFailure> setUpLocked();
    std::optional<PortFailure> closeLocked();
    void stopLocked();
    void failLocked(const PortFailure &failure);
    void lineClick(LineDriver::ModemLine line);
    bool refusedAsTooLong(const QString &text, Terminator terminator);
    struct Walked;
    static Walked walk(const QString &text, Terminator terminator);
    void takeLocked(Walked &walked);

    void report(const PortFailure &failure);
    void showCritical(const QString &text);
    void announceRepeating();
    void showPendingFailure();

    Panel &m_panel;
    CommControl &MSCommPort;
    TrainTimer &timerSlanjePovorki;
    Messenger &m_messenger;

    mutable RtMutex m_lock;
    PortOutput m_output; // the open port's device, set by every set-up, cleared by every close
    PovorkaBuffer Povorka{};
    qint16 BrojBajtova = 0;
    QByteArray m_train; // the first BrojBajtova slots of Povorka: what a send writes
    std::atomic<bool> m_repeating{false};        // changed under the lock
    std::optional<PortFailure> m_pendingFailure; // a tick's failure, shown once, on our thread
    bool m_inMessage = false;
    bool m_announced = false; // what repeatingChanged last said
    std::atomic<quint64> m_sent{0};
    std::atomic<quint64> m_missedAtStart{0};
};
