// SPDX-License-Identifier: MIT
#pragma once

#include "serial/portmap.h"
#include "serial/virtualport.h"
#include "train/waveform.h"

#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QAbstractNativeEventFilter;
class QPainter;

// Shows the operator what the fields will put on the TX line: one train as the line carries it,
// with a time axis, its size and time on the line against the period, where the port number
// leads, and while repeating how many trains went out. It only shows: it takes no keyboard focus
// and never changes a field, so the window's layout and focus order stay as they are. The window
// forwards its field texts; everything is decoded the way the send commands decode it. A click
// on the drawn line asks for the way back, from pulses to a train (lineClicked).
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
    // One look at the ports after a burst of keystrokes or of device changes.
    static constexpr int kSettleMs = 150;
    static constexpr int kCounterIntervalMs = 250;

    explicit LinePreview(QWidget *parent = nullptr);
    ~LinePreview() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Where port numbers lead, as the port object finds them. Nothing is polled: the device
    // folder and the link folder are watched (on Windows the system's device-change message is),
    // and the map's list of ports (slow to make) is made on a worker thread only when the
    // devices changed and a number needs the list; "Port:" then only looks at the links. The
    // map's lister must be safe to call from that thread.
    void setPortMap(const PortMap &map, const QString &deviceFolder = QStringLiteral("/dev"));
    // How often the ports were listed, for tests and the benchmark.
    int portListings() const { return m_listings; }
    // Polled a few times a second while repeating, never once per train.
    void setCounterSource(CounterSource source);

    const LineSummary &summary() const { return m_summary; }
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
    void relocate();
    void listPorts();
    void portsListed();
    void folderChanged(const QString &folder);
    void devicesChanged();
    void watchFolders();
    void pollCounters();
    void refresh();
    int lineHeight() const;
    double shownBits() const;

    QString m_trainText;
    QString m_rateText;
    QString m_periodText;
    LineSummary m_summary;

    std::optional<qint16> m_portNumber;
    std::optional<PortLocation> m_location;
    std::optional<PortMap> m_map;
    QString m_deviceFolder;
    std::optional<QStringList> m_present; // the map's ports as last listed; empty when stale
    QFutureWatcher<QStringList> m_listing;
    bool m_listAgain = false; // the devices changed while a listing ran
    int m_listings = 0;
    QFileSystemWatcher m_folders;
    std::unique_ptr<QAbstractNativeEventFilter> m_deviceMessages; // Windows
    MonitorWatch m_monitor; // a virtual port's monitor can end without a trace in the folders
    QTimer m_settleTimer;

    bool m_repeating = false;
    Counters m_counters;
    CounterSource m_counterSource;
    QTimer m_counterTimer;
};
