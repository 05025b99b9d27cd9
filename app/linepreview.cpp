// SPDX-License-Identifier: MIT
#include "app/linepreview.h"

#include "texts/failures.h"
#include "texts/line.h"
#include "texts/window.h"
#include "train/fields.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int kWidth = 250;
constexpr int kHeight = 150;
constexpr int kPlotHeight = 54;
constexpr int kLevelLabelWidth = 10; // the "1" and "0" left of the trace
constexpr int kLevelInset = 9;       // keeps the trace off the plot's frame
constexpr int kIdlePixels = 8;       // idle mark drawn before and after the train

// "Port:" as the set-up refuses it, in short; its report has the whole text.
QString refusedPortLine(const PortFailure &refusal)
{
    switch (refusal.number) {
    case PortError::PortOutOfRange:
        return OperatorText::linePortOutOfRange();
    case PortError::PortBelowOne:
        return OperatorText::linePortBelowOne();
    default:
        return OperatorText::linePortNotANumber();
    }
}

} // namespace

LinePreview::LinePreview(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true); // the hand over the drawn line says it can be clicked
    setAccessibleName(OperatorText::linePreviewName());
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);

    connect(&m_watcher, &PortWatcher::locationChanged, this, &LinePreview::refresh);
    m_counterTimer.setInterval(kCounterIntervalMs);
    connect(&m_counterTimer, &QTimer::timeout, this, &LinePreview::pollCounters);

    recompute();
}

LinePreview::~LinePreview() = default;

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

// Only a number the set-up would look for is followed: for any other it looks for no device.
void LinePreview::setPortText(const QString &text)
{
    m_portText = text;
    m_watcher.setPortNumber(Fields::portRefusal(text) ? std::nullopt : Fields::toInteger16(text));
    refresh();
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

LinePreview::PortLines LinePreview::portLines(const QString &portText,
                                              const std::optional<PortLocation> &where)
{
    if (const auto refused = Fields::portRefusal(portText))
        return {refusedPortLine(*refused)};
    const auto number = Fields::toInteger16(portText);
    if (!where || where->number != *number)
        return {OperatorText::linePortName(*number)};
    PortLines lines;
    if (!where->tried.isEmpty() && !where->exists())
        lines.details << OperatorText::linePortTried(where->tried);
    if (!where->exists() && !where->ended)
        lines.details << OperatorText::linePortsPresent(where->present);
    lines.missing = !where->exists();
    if (where->ended)
        lines.line = OperatorText::linePortEnded(*number);
    else if (!where->exists())
        lines.line = OperatorText::linePortMissing(*number);
    else if (where->device == OperatorText::linePortName(*number)) // Windows: the name says it
        lines.line = OperatorText::linePortName(*number);
    else
        lines.line = OperatorText::linePortAt(*number, where->device);
    return lines;
}

QString LinePreview::portLine() const
{
    return portLines(m_portText, m_watcher.location()).line;
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
    const PortLines port = portLines(m_portText, m_watcher.location());
    QStringList lines{summaryText(m_summary), port.line};
    lines << port.details;
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
        painter.drawText(plotRect().left(), row, OperatorText::lineAxisEmpty());
        return row;
    }
    const QString begin = QStringLiteral("0");
    const QString end = m_summary.hasRate() ? formatDuration(trainSeconds(shown, m_summary.bitRate))
                                            : OperatorText::lineAxisBits(shown * kBitsPerByte);
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
    const PortLines port = portLines(m_portText, m_watcher.location());
    lines.append({port.line, port.missing});
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
