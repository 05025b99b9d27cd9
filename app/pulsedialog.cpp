// SPDX-License-Identifier: MIT
#include "app/pulsedialog.h"

#include "app/linepreview.h"
#include "texts/pulses.h"
#include "train/fields.h"
#include "train/pulsereport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <iterator>
#include <limits>

namespace {

// The preview's proportions, so that both show a line alike.
constexpr int kLevelLabelWidth = 10;
constexpr int kPlotHeight = 54;
constexpr int kLevelInset = 9;
constexpr int kIdlePixels = 8;

constexpr double kTolerances[] = {0.005, 0.01, 0.02, 0.05, 0.10};
constexpr int kDefaultTolerance = 2; // 2 %

// Where the line changes level, in seconds from the first start bit, and the level from there.
struct Step
{
    double at;
    bool high;
};

// The line a design makes and the one its pulses want, from the first start bit on, and the
// time both take; a high pulse at either end is idle line.
struct Lines
{
    QVector<Step> made;
    QVector<Step> wanted;
    double span = 0.0;
};

Lines linesOf(const std::optional<PulseDesign::Design> &design)
{
    Lines lines;
    double madeEnd = 0.0;
    double wantedEnd = 0.0;
    if (design) {
        for (const PulseDesign::MadePulse &pulse : design->pulses) {
            if (pulse.role == PulseDesign::Role::IdleBefore)
                continue;
            const bool high = pulse.wanted.level == PulseDesign::Level::High;
            lines.made.append({madeEnd, high});
            lines.wanted.append({wantedEnd, high});
            madeEnd += double(pulse.bits) / design->bitRate;
            // Idle line after the train is drawn only as far as the train goes.
            if (pulse.role == PulseDesign::Role::Train)
                wantedEnd += pulse.wanted.seconds;
        }
        if (lines.made.isEmpty() || !lines.made.last().high) {
            lines.made.append({madeEnd, true});
            madeEnd += double(design->trailingBits) / design->bitRate;
        }
    }
    lines.span = std::max({madeEnd, wantedEnd, 1e-12});
    return lines;
}

} // namespace

PulseTrace::PulseTrace(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);
    setMinimumHeight(sizeHint().height());
}

void PulseTrace::setDesign(const std::optional<PulseDesign::Design> &design)
{
    m_design = design;
    update();
}

QSize PulseTrace::sizeHint() const
{
    return {420, kPlotHeight + fontMetrics().height() + 2};
}

QColor PulseTrace::wantedColor()
{
    return QColor(160, 160, 160);
}

void PulseTrace::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect plot(kLevelLabelWidth, 0, width() - kLevelLabelWidth, kPlotHeight);
    painter.fillRect(plot, palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    const auto yOf = [&](bool high) {
        return high ? plot.top() + kLevelInset : plot.bottom() - kLevelInset;
    };
    painter.setPen(palette().color(QPalette::Text));
    const int labelAscent = fontMetrics().ascent() / 2;
    painter.drawText(0, yOf(true) + labelAscent, QStringLiteral("1"));
    painter.drawText(0, yOf(false) + labelAscent, QStringLiteral("0"));

    const Lines lines = linesOf(m_design);
    const double span = lines.span;
    const auto xOf = [&](double seconds) {
        return plot.left() + kIdlePixels +
               qRound(seconds * (plot.width() - 2 * kIdlePixels) / span);
    };
    const auto draw = [&](const QVector<Step> &steps, const QColor &color) {
        painter.setPen(QPen(color, 1));
        int x = plot.left() + 1;
        int y = yOf(true);
        for (const Step &step : steps) {
            const int next = xOf(step.at);
            painter.drawLine(x, y, next, y);
            painter.drawLine(next, y, next, yOf(step.high));
            x = next;
            y = yOf(step.high);
        }
        painter.drawLine(x, y, plot.right() - 1, y);
    };
    // No antialiasing, so each level sits on exactly one row of pixels; the made line on top.
    painter.setRenderHint(QPainter::Antialiasing, false);
    draw(lines.wanted, wantedColor());
    draw(lines.made, LinePreview::lineColor());

    if (!m_design)
        return;
    const QFontMetrics metrics = fontMetrics();
    const int row = plot.bottom() + 1 + metrics.ascent();
    const QString end = OperatorText::pulseDuration(span);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(xOf(0) - metrics.horizontalAdvance(QStringLiteral("0")) / 2, row,
                     QStringLiteral("0"));
    painter.drawText(std::min(xOf(span) - metrics.horizontalAdvance(end) / 2,
                              width() - metrics.horizontalAdvance(end)),
                     row, end);
}

PulseDialog::PulseDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("pulseDialog"));
    setWindowTitle(OperatorText::pulsesTitle());
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(makeFields());
    layout->addSpacing(6);
    makeAnswer(layout);
    layout->addLayout(makeButtons());
    resize(480, 440);

    connect(m_pattern, &QLineEdit::textChanged, this, &PulseDialog::redesign);
    connect(m_standardRates, &QCheckBox::toggled, this, &PulseDialog::redesign);
    connect(m_tolerance, &QComboBox::currentIndexChanged, this, &PulseDialog::redesign);
    redesign();
}

// What the operator sets: the pattern, with its rules below it, the rates and the tolerance.
QGridLayout *PulseDialog::makeFields()
{
    m_pattern = new QLineEdit(this);
    m_pattern->setObjectName(QStringLiteral("pattern"));
    m_pattern->setPlaceholderText(OperatorText::pulsesPatternHint());
    m_pattern->setMaxLength(std::numeric_limits<int>::max());
    auto *patternLabel = new QLabel(OperatorText::pulsesPatternLabel(), this);
    patternLabel->setBuddy(m_pattern);
    auto *rules = new QLabel(OperatorText::pulsesRules(), this);
    rules->setWordWrap(true);

    m_standardRates =
        new QCheckBox(OperatorText::pulsesStandardRates(*std::begin(Fields::kStandardBitRates),
                                                        *std::rbegin(Fields::kStandardBitRates)),
                      this);
    m_standardRates->setObjectName(QStringLiteral("standardRates"));
    m_tolerance = new QComboBox(this);
    m_tolerance->setObjectName(QStringLiteral("tolerance"));
    for (const double tolerance : kTolerances)
        m_tolerance->addItem(OperatorText::tolerancePercent(tolerance), tolerance);
    m_tolerance->setCurrentIndex(kDefaultTolerance);
    auto *toleranceLabel = new QLabel(OperatorText::pulsesToleranceLabel(), this);
    toleranceLabel->setBuddy(m_tolerance);

    auto *fields = new QGridLayout;
    fields->addWidget(patternLabel, 0, 0);
    fields->addWidget(m_pattern, 0, 1, 1, 3);
    fields->addWidget(rules, 1, 1, 1, 3);
    fields->addWidget(m_standardRates, 2, 1);
    fields->addWidget(toleranceLabel, 2, 2, Qt::AlignRight);
    fields->addWidget(m_tolerance, 2, 3);
    fields->setColumnStretch(1, 1);
    return fields;
}

// The answer, in this order: the rate or why there is none, the train, its size, the line
// drawn and each pulse wanted against made.
void PulseDialog::makeAnswer(QVBoxLayout *layout)
{
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("result"));
    m_result->setTextFormat(Qt::PlainText);
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_train = new QLineEdit(this);
    m_train->setObjectName(QStringLiteral("train"));
    m_train->setReadOnly(true);
    auto *trainLabel = new QLabel(OperatorText::pulsesTrainLabel(), this);
    trainLabel->setBuddy(m_train);
    m_trace = new PulseTrace(this);
    auto *legend = new QLabel(OperatorText::pulsesLegend(), this);
    legend->setFont(m_trace->font());
    m_pulses = new QTreeWidget(this);
    m_pulses->setObjectName(QStringLiteral("pulses"));
    m_pulses->setRootIsDecorated(false);
    m_pulses->setUniformRowHeights(true);
    m_pulses->setSelectionMode(QAbstractItemView::NoSelection);
    m_pulses->setHeaderLabels(OperatorText::pulseColumns());
    m_pulses->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_size = new QLabel(this);
    m_size->setObjectName(QStringLiteral("size"));
    m_size->setTextFormat(Qt::PlainText);

    auto *train = new QHBoxLayout;
    train->addWidget(trainLabel);
    train->addWidget(m_train);
    layout->addWidget(m_result);
    layout->addLayout(train);
    layout->addWidget(m_size);
    layout->addWidget(m_trace);
    layout->addWidget(legend);
    layout->addWidget(m_pulses, 1);
}

QHBoxLayout *PulseDialog::makeButtons()
{
    m_apply = new QPushButton(OperatorText::pulsesApply(), this);
    m_apply->setObjectName(QStringLiteral("apply"));
    m_apply->setToolTip(OperatorText::pulsesApplyHint());
    m_apply->setDefault(true);
    auto *close = new QPushButton(OperatorText::pulsesClose(), this);
    close->setObjectName(QStringLiteral("close"));
    close->setAutoDefault(false);
    connect(m_apply, &QPushButton::clicked, this, &PulseDialog::apply);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_apply);
    buttons->addWidget(close);
    return buttons;
}

PulseDesign::Options PulseDialog::options() const
{
    PulseDesign::Options options;
    options.rates =
        m_standardRates->isChecked() ? PulseDesign::Rates::Standard : PulseDesign::Rates::Any;
    options.tolerance = m_tolerance->currentData().toDouble();
    return options;
}

void PulseDialog::redesign()
{
    const PulseDesign::Options chosen = options();
    const PulseDesign::Answer answer = PulseDesign::design(m_pattern->text(), chosen);
    m_design = answer.design;
    m_apply->setEnabled(m_design.has_value());
    m_trace->setDesign(m_design);
    m_pulses->clear();

    QPalette palette = m_result->palette();
    const bool refused = !m_design && !m_pattern->text().trimmed().isEmpty();
    palette.setColor(QPalette::WindowText, refused ? LinePreview::warningColor()
                                                   : this->palette().color(QPalette::WindowText));
    m_result->setPalette(palette);
    if (!m_design) {
        m_result->setText(answer.refusal);
        m_train->clear();
        m_size->clear();
        return;
    }
    m_result->setText(OperatorText::pulsesRateLine(m_design->bitRate));
    m_size->setText(PulseDesign::sizeLine(*m_design, chosen));
    m_train->setText(PulseDesign::trainText(m_design->bytes));
    m_train->setCursorPosition(0);
    for (int index = 0; index < m_design->pulses.size(); ++index)
        new QTreeWidgetItem(m_pulses, PulseDesign::pulseCells(index + 1, m_design->pulses[index]));
}

void PulseDialog::apply()
{
    if (!m_design)
        return;
    emit applied(QString::number(m_design->bitRate), PulseDesign::trainText(m_design->bytes));
    accept();
}
