// SPDX-License-Identifier: MIT
#include "train/pulsepattern.h"

#include "texts/pulses.h"

#include <QRegularExpression>

// Reading the pattern and the tolerance as typed, and writing the train for the train field.
namespace PulseDesign {

std::optional<QVector<Pulse>> parsePattern(const QString &text, QString *refusal)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,;]*"));
    static const QRegularExpression token(
        QStringLiteral("([LH])\\s*([0-9]{1,9}(?:[.,][0-9]{1,9})?)\\s*([um]s)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression word(QStringLiteral("[^\\s,;]*"));
    const auto refuse = [&](const QString &why) {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    };

    QVector<Pulse> pulses;
    qsizetype at = 0;
    for (;;) {
        at += separators
                  .match(text, at, QRegularExpression::NormalMatch,
                         QRegularExpression::AnchorAtOffsetMatchOption)
                  .capturedLength();
        if (at >= text.size())
            break;
        const int number = int(pulses.size()) + 1;
        const auto match = token.match(text, at, QRegularExpression::NormalMatch,
                                       QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch())
            return refuse(OperatorText::pulseUnreadable(
                number, word.match(text, at, QRegularExpression::NormalMatch,
                                   QRegularExpression::AnchorAtOffsetMatchOption)
                            .captured()));
        Pulse pulse;
        pulse.token = match.captured();
        pulse.level = match.captured(1).toUpper() == QLatin1String("L") ? Level::Low : Level::High;
        const double value =
            match.captured(2).replace(QLatin1Char(','), QLatin1Char('.')).toDouble();
        pulse.seconds = value * (match.captured(3).toLower() == QLatin1String("us") ? 1e-6 : 1e-3);
        if (!(pulse.seconds > 0.0))
            return refuse(OperatorText::pulseWithoutLength(number, pulse.token));
        if (!pulses.isEmpty() && pulses.last().level == pulse.level)
            return refuse(OperatorText::pulseSameLevel(number, pulse.token));
        pulses.append(pulse);
        at += match.capturedLength();
    }
    if (pulses.isEmpty())
        return refuse(OperatorText::pulsesMissing());
    return pulses;
}

std::optional<double> toleranceFromPercent(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([0-9]{1,3}(?:[.,][0-9]{1,6})?)\\s*%?\\s*$"));
    const auto match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const double percent = match.captured(1).replace(QLatin1Char(','), QLatin1Char('.')).toDouble();
    if (percent > 50.0)
        return std::nullopt;
    return percent / 100.0;
}

QString trainText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace PulseDesign
