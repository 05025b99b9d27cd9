// SPDX-License-Identifier: MIT
#pragma once

#include "app/portwatcher.h"
#include "train/waveform.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

class QPainter;

// Shows the operator what the fields will put on the TX line: one train as the line carries it,
// with a time axis, its size and time on the line against the period, where the port number
// leads, and while repeating how many trains went out. It only shows: it takes no keyboard focus
// and never changes a field, so the window's layout and focus order stay as they are. The window
// forwards its field texts; everything is decoded the way the send commands decode it, and where
// the port number leads is what its PortWatcher says. A click on the drawn line asks for the way
// back, from pulses to a train (lineClicked).
class LinePreview : public QWidget
{
    Q_OBJECT

public:
    struct Counters
    {
        quint64 sent = 0;
        quint64 missed = 0;
        // The sender thread's policy while it is not real-time (then deadlines go by on a busy
        // machine, and the operator should know why); empty otherwise.
        QString ordinaryPolicy = {};
    };
    using CounterSource = std::function<Counters()>;

    // More bytes would leave less than two pixels per bit in the space the window has.
    static constexpr int kShownBytes = 10;
    static constexpr int kCounterIntervalMs = 250;

    explicit LinePreview(QWidget *parent = nullptr);
    ~LinePreview() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // What follows "Port:" to its device; the window gives it the port object's map.
    PortWatcher &portWatcher() { return m_watcher; }
    const PortWatcher &portWatcher() const { return m_watcher; }
    // Polled a few times a second while repeating, never once per train.
    void setCounterSource(CounterSource source);

    const LineSummary &summary() const { return m_summary; }
    // "Port:" as the preview shows it: the line, the details for the tooltip, and whether the
    // number leads nowhere. `where` is what the watcher found for this text's number, if it has
    // looked yet.
    struct PortLines
    {
        QString line;
        QStringList details = {};
        bool missing = false;
    };
    static PortLines portLines(const QString &portText, const std::optional<PortLocation> &where);
    QString portLine() const;
    QString counterLine() const; // empty unless repeating
    // Every line the widget shows, plus details that do not fit; also tooltip and accessible
    // description.
    QString fullSummary() const;
    bool isWarning() const;

    // Where the drawing puts things. Bit 0 begins with the first start bit's falling edge;
    // the idle line runs on either side of the train.
    QRect plotRect() const;
    int xOfBit(double bit) const;
    int yOfLevel(bool level) const;
    static QColor lineColor();
    static QColor warningColor();

signals:
    void lineClicked();

public slots:
    void setTrainText(const QString &text);
    void setRateText(const QString &text);
    void setPeriodText(const QString &text);
    void setPortText(const QString &text);
    void setRepeating(bool repeating);
    void setCounters(quint64 sent, quint64 missed);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void paintTrace(QPainter &painter) const;
    int paintAxis(QPainter &painter) const;
    void paintSummary(QPainter &painter, int row) const;
    void recompute();
    void pollCounters();
    void refresh();
    int lineHeight() const;
    double shownBits() const;

    QString m_trainText;
    QString m_rateText;
    QString m_periodText;
    QString m_portText;
    LineSummary m_summary;

    PortWatcher m_watcher;

    bool m_repeating = false;
    Counters m_counters;
    CounterSource m_counterSource;
    QTimer m_counterTimer;
};
