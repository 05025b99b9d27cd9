// SPDX-License-Identifier: MIT
#include "app/linepreview.h"

#include "texts/failures.h"
#include "texts/line.h"
#include "train/fields.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QPromise>
#include <QThreadPool>
#include <memory>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

constexpr int kWidth = 250;
constexpr int kHeight = 150;
constexpr int kPlotHeight = 54;
constexpr int kLevelLabelWidth = 10; // the "1" and "0" left of the trace
constexpr int kLevelInset = 9;       // keeps the trace off the plot's frame
constexpr int kIdlePixels = 8;       // idle mark drawn before and after the train

#ifdef Q_OS_WIN
// Windows has no device folder to watch; it tells every top-level window of the thread when a
// device comes or goes (WM_DEVICECHANGE, DBT_DEVNODES_CHANGED).
class DeviceMessages final : public QAbstractNativeEventFilter
{
public:
    explicit DeviceMessages(std::function<void()> changed)
        : m_changed(std::move(changed))
    {}
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type == "windows_generic_MSG" &&
            static_cast<MSG *>(message)->message == WM_DEVICECHANGE)
            m_changed();
        return false;
    }

private:
    std::function<void()> m_changed;
};
#endif

} // namespace

LinePreview::LinePreview(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true); // the hand over the drawn line says it can be clicked
    setAccessibleName(QStringLiteral("Pregled TX linije"));
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);

    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(kSettleMs);
    connect(&m_settleTimer, &QTimer::timeout, this, &LinePreview::relocate);
    connect(&m_folders, &QFileSystemWatcher::directoryChanged, this, &LinePreview::folderChanged);
    connect(&m_listing, &QFutureWatcherBase::finished, this, &LinePreview::portsListed);
    connect(&m_monitor, &MonitorWatch::ended, this, &LinePreview::relocate);
    m_counterTimer.setInterval(kCounterIntervalMs);
    connect(&m_counterTimer, &QTimer::timeout, this, &LinePreview::pollCounters);
#ifdef Q_OS_WIN
    m_deviceMessages = std::make_unique<DeviceMessages>([this] { devicesChanged(); });
    QCoreApplication::instance()->installNativeEventFilter(m_deviceMessages.get());
#endif

    recompute();
}

// A listing still running goes on with the map's lister, which may use what its owner holds.
LinePreview::~LinePreview()
{
    if (m_deviceMessages)
        QCoreApplication::instance()->removeNativeEventFilter(m_deviceMessages.get());
    m_listing.waitForFinished();
}

QSize LinePreview::sizeHint() const
{
    return {kWidth, kHeight};
}

QSize LinePreview::minimumSizeHint() const
{
    return {kWidth, kHeight};
}

void LinePreview::setTrainText(const QString &text)
{
    m_trainText = text;
    recompute();
}

void LinePreview::setRateText(const QString &text)
{
    m_rateText = text;
    recompute();
}

void LinePreview::setPeriodText(const QString &text)
{
    m_periodText = text;
    recompute();
}

void LinePreview::setPortText(const QString &text)
{
    m_portNumber = Fields::toInteger16(text);
    refresh();
    m_settleTimer.start();
}

void LinePreview::setPortMap(const PortMap &map, const QString &deviceFolder)
{
    m_map = map;
    m_deviceFolder = deviceFolder;
    m_present.reset();
    if (!m_folders.directories().isEmpty())
        m_folders.removePaths(m_folders.directories());
    watchFolders();
    relocate();
}

// The device folder (a USB adapter plugged in or out), the stable names of adapters, the link
// folder and the folder it is made in. Folders that appear later are added when their parent
// changes.
void LinePreview::watchFolders()
{
    if (!m_map)
        return;
    const QString links = m_map->linkFolder();
    QStringList wanted{m_deviceFolder, m_deviceFolder + QStringLiteral("/serial/by-id"), links,
                       QFileInfo(links).absolutePath()};
    const QStringList watched = m_folders.directories();
    wanted.removeIf([&](const QString &folder) {
        return watched.contains(folder) || !QFileInfo(folder).isDir();
    });
    if (!wanted.isEmpty())
        m_folders.addPaths(wanted);
}

void LinePreview::folderChanged(const QString &folder)
{
    watchFolders();
    if (folder.startsWith(m_deviceFolder))
        devicesChanged();
    else
        m_settleTimer.start();
}

void LinePreview::devicesChanged()
{
    m_present.reset();
    m_listAgain = m_listing.isRunning();
    m_settleTimer.start();
}

void LinePreview::relocate()
{
    m_settleTimer.stop();
    if (!m_map || !m_portNumber) {
        refresh();
        return;
    }
    // The links are read here (cheap); the list of ports only where the map asks for it.
    bool listNeeded = false;
    const PortMap known(
        [&] {
            listNeeded = true;
            return m_present.value_or(QStringList());
        },
        m_map->linkFolder());
    const PortLocation where = known.locate(*m_portNumber);
    if (listNeeded && !m_present) {
        listPorts(); // what shows stays until the list is back
        return;
    }
    m_location = where;
    m_monitor.watch(where.link);
    refresh();
}

void LinePreview::listPorts()
{
    if (m_listing.isRunning()) {
        m_listAgain = true;
        return;
    }
    ++m_listings;
    auto promise = std::make_shared<QPromise<QStringList>>();
    m_listing.setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, map = *m_map] {
        promise->addResult(map.presentPorts());
        promise->finish();
    });
}

void LinePreview::portsListed()
{
    if (std::exchange(m_listAgain, false)) {
        listPorts();
        return;
    }
    m_present = m_listing.future().resultCount() > 0 ? m_listing.result() : QStringList();
    relocate();
}

void LinePreview::setCounterSource(CounterSource source)
{
    m_counterSource = std::move(source);
    if (m_repeating && m_counterSource)
        m_counterTimer.start();
}

void LinePreview::setRepeating(bool repeating)
{
    m_repeating = repeating;
    if (repeating) {
        m_counters = {};
        pollCounters();
        if (m_counterSource)
            m_counterTimer.start();
    } else {
        m_counterTimer.stop();
    }
    refresh();
}

void LinePreview::setCounters(quint64 sent, quint64 missed)
{
    m_counters = {sent, missed};
    refresh();
}

void LinePreview::pollCounters()
{
    if (m_counterSource)
        m_counters = m_counterSource();
    refresh();
}

void LinePreview::recompute()
{
    m_summary = summarizeLine(m_trainText, m_rateText, m_periodText, kShownBytes);
    refresh();
}

void LinePreview::refresh()
{
    const QString text = fullSummary();
    if (toolTip() != text) {
        setToolTip(text);
        setAccessibleDescription(text);
    }
    update();
}

QString LinePreview::portLine() const
{
    if (!m_portNumber)
        return QStringLiteral("Port: nije broj");
    const QString name = QStringLiteral("COM%1").arg(*m_portNumber);
    if (!m_location || m_location->number != *m_portNumber)
        return name;
    if (m_location->ended)
        return name + QStringLiteral(" ne postoji: virtuelni port je zavrsen");
    if (!m_location->exists())
        return name + QStringLiteral(" ne postoji");
    if (m_location->device == name) // Windows: the number is the name
        return name;
    return name + QStringLiteral(" = ") + m_location->device;
}

QString LinePreview::counterLine() const
{
    if (!m_repeating)
        return {};
    const QString counters = OperatorText::repetitionCounters(m_counters.sent, m_counters.missed);
    if (m_counters.ordinaryPolicy.isEmpty())
        return counters;
    return counters + QStringLiteral(", ") +
           OperatorText::senderNotRealtime(m_counters.ordinaryPolicy);
}

QString LinePreview::fullSummary() const
{
    QStringList lines{summaryText(m_summary), portLine()};
    if (m_location && m_portNumber && m_location->number == *m_portNumber) {
        if (!m_location->tried.isEmpty() && !m_location->exists())
            lines << QStringLiteral("Trazeno: ") + m_location->tried;
        if (!m_location->exists() && !m_location->ended)
            lines << QStringLiteral("Postoje: ") +
                         (m_location->present.isEmpty()
                              ? QStringLiteral("nijedan serijski port")
                              : m_location->present.join(QStringLiteral(", ")));
    }
    const QString counters = counterLine();
    if (!counters.isEmpty())
        lines << counters;
    return lines.join(QLatin1Char('\n'));
}

bool LinePreview::isWarning() const
{
    return !warningLine(m_summary).isEmpty();
}

QColor LinePreview::lineColor()
{
    return QColor(0, 70, 170);
}

QColor LinePreview::warningColor()
{
    return QColor(200, 0, 0);
}

int LinePreview::lineHeight() const
{
    return fontMetrics().height();
}

QRect LinePreview::plotRect() const
{
    return QRect(kLevelLabelWidth, 0, width() - kLevelLabelWidth, kPlotHeight);
}

double LinePreview::shownBits() const
{
    return double(m_summary.firstBytes.size()) * kBitsPerByte;
}

int LinePreview::xOfBit(double bit) const
{
    const QRect plot = plotRect();
    const double bits = std::max(shownBits(), 1.0);
    const double span = plot.width() - 2 * kIdlePixels;
    return plot.left() + kIdlePixels + qRound(bit * span / bits);
}

int LinePreview::yOfLevel(bool level) const
{
    const QRect plot = plotRect();
    return level ? plot.top() + kLevelInset : plot.bottom() - kLevelInset;
}

void LinePreview::mouseMoveEvent(QMouseEvent *event)
{
    if (plotRect().contains(event->position().toPoint()))
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
    QWidget::mouseMoveEvent(event);
}

void LinePreview::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && plotRect().contains(event->position().toPoint()))
        emit lineClicked();
    else
        QWidget::mouseReleaseEvent(event);
}

void LinePreview::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintTrace(painter);
    const int row = paintAxis(painter);
    paintSummary(painter, row);
}

// The trace area like a scope screen: levels, byte ticks and the line itself.
void LinePreview::paintTrace(QPainter &painter) const
{
    const QRect plot = plotRect();
    painter.fillRect(plot, palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Text));
    const int labelAscent = fontMetrics().ascent() / 2;
    painter.drawText(0, yOfLevel(true) + labelAscent, QStringLiteral("1"));
    painter.drawText(0, yOfLevel(false) + labelAscent, QStringLiteral("0"));

    // Byte boundaries as ticks along the bottom of the trace area.
    const qsizetype shown = m_summary.firstBytes.size();
    painter.setPen(palette().color(QPalette::Mid));
    for (qsizetype i = 0; i <= shown && shown > 0; ++i) {
        const int x = xOfBit(double(i * kBitsPerByte));
        painter.drawLine(x, plot.bottom() - 3, x, plot.bottom() - 1);
    }

    // Idle mark, the train's bits, idle mark again. No antialiasing, so each level sits on
    // exactly one row of pixels.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(lineColor(), 1));
    const int high = yOfLevel(true);
    const int low = yOfLevel(false);
    int x = plot.left() + 1;
    int y = high;
    for (const LineRun &run : lineRuns(m_summary.firstBytes)) {
        const int start = xOfBit(double(run.firstBit));
        const int end = xOfBit(double(run.firstBit + run.bits));
        const int level = run.level ? high : low;
        painter.drawLine(x, y, start, y);
        painter.drawLine(start, y, start, level);
        x = start;
        y = level;
        painter.drawLine(x, y, end, y);
        x = end;
    }
    painter.drawLine(x, y, x, high);
    painter.drawLine(x, high, plot.right() - 1, high);
}

// The time axis under the trace: the train's start, where the drawn bytes end, and how many are
// left out. Returns the text row it used.
int LinePreview::paintAxis(QPainter &painter) const
{
    const QFontMetrics metrics = fontMetrics();
    const int row = plotRect().bottom() + 1 + metrics.ascent();
    painter.setPen(palette().color(QPalette::Text));
    const qsizetype shown = m_summary.firstBytes.size();
    if (shown == 0) {
        painter.drawText(plotRect().left(), row, QStringLiteral("prazna povorka"));
        return row;
    }
    const QString begin = QStringLiteral("0");
    const QString end = m_summary.hasRate() ? formatDuration(trainSeconds(shown, m_summary.bitRate))
                                            : QStringLiteral("%1 bit").arg(shown * kBitsPerByte);
    const int beginX = xOfBit(0) - metrics.horizontalAdvance(begin) / 2;
    const int endX = std::min(xOfBit(shownBits()) - metrics.horizontalAdvance(end) / 2,
                              width() - metrics.horizontalAdvance(end));
    painter.drawText(beginX, row, begin);
    painter.drawText(endX, row, end);
    const QString more = shownBytesLine(m_summary);
    if (!more.isEmpty()) {
        const int room = endX - beginX - metrics.horizontalAdvance(begin) - 8;
        const QString fitted = metrics.elidedText(more, Qt::ElideRight, room);
        painter.drawText((beginX + endX - metrics.horizontalAdvance(fitted)) / 2 + 2, row, fitted);
    }
    return row;
}

// The summary below the axis, most important first; what does not fit stays in the tooltip.
void LinePreview::paintSummary(QPainter &painter, int row) const
{
    struct Line
    {
        QString text;
        bool warning;
    };
    QList<Line> lines{{sizeLine(m_summary), false}, {periodLine(m_summary), false}};
    const QString warning = warningLine(m_summary);
    if (!warning.isEmpty())
        lines.append({warning, true});
    lines.append({portLine(), m_location && m_portNumber && m_location->number == *m_portNumber &&
                                  !m_location->exists()});
    if (m_repeating)
        lines.append({counterLine(), m_counters.missed > 0});
    for (const QString &note : noteLines(m_summary))
        lines.append({note, false});

    const QFontMetrics metrics = fontMetrics();
    for (const Line &line : lines) {
        row += lineHeight();
        if (row + metrics.descent() > height())
            break;
        painter.setPen(line.warning ? warningColor() : palette().color(QPalette::Text));
        painter.drawText(0, row, metrics.elidedText(line.text, Qt::ElideRight, width()));
    }
}
