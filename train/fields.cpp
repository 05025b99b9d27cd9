// SPDX-License-Identifier: MIT
#include "train/fields.h"

#include "texts/failures.h"

#include <QRegularExpression>
#include <limits>

namespace Fields {

namespace {

const QRegularExpression &wholeNumber()
{
    static const QRegularExpression form(QStringLiteral("^\\s*([+-]?)([0-9]+)\\s*$"));
    return form;
}

} // namespace

std::optional<qint16> toInteger16(const QString &text)
{
    const auto match = wholeNumber().match(text);
    if (!match.hasMatch())
        return std::nullopt;
    QString digits = match.captured(2);
    // Leading zeros must not make a long text look out of range.
    while (digits.size() > 1 && digits.startsWith(QLatin1Char('0')))
        digits.remove(0, 1);
    if (digits.size() > 5)
        return std::nullopt;
    const int value = (match.captured(1) == QLatin1String("-") ? -1 : 1) * digits.toInt();
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return qint16(value);
}

bool isWholeNumber(const QString &text)
{
    return wholeNumber().match(text).hasMatch();
}

std::optional<PortFailure> portRefusal(const QString &text)
{
    const auto number = toInteger16(text);
    if (!number)
        return isWholeNumber(text) ? OperatorText::portOutOfRange(text)
                                   : OperatorText::portNotANumber(text);
    if (*number < 1)
        return OperatorText::portBelowOne(*number);
    return std::nullopt;
}

namespace {

const QString kFraming = QStringLiteral(",n,8,1");

} // namespace

QString settingsText(const QString &rateText)
{
    return rateText + kFraming;
}

qint32 bitRate(const QString &rateText)
{
    // The rate in plain decimal digits; spaces around it are no part of it, as in the other
    // number fields.
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9]{1,10})\\s*$"));
    const auto match = form.match(rateText);
    if (!match.hasMatch())
        return 0;
    const qlonglong rate = match.captured(1).toLongLong();
    if (rate < 1 || rate > std::numeric_limits<qint32>::max())
        return 0;
    return qint32(rate);
}

std::optional<QString> rateTextOf(const QString &settings)
{
    if (!settings.endsWith(kFraming, Qt::CaseInsensitive))
        return std::nullopt;
    return settings.chopped(kFraming.size());
}

std::optional<int> periodMs(const QString &text)
{
    const auto period = toInteger16(text);
    if (!period || *period < 0)
        return std::nullopt;
    return *period;
}

bool trainFits(qint64 bytes, Terminator terminator)
{
    return bytes <= trainCapacity(terminator);
}

} // namespace Fields
