// SPDX-License-Identifier: MIT
#include "texts/words.h"

// Counting, the decimal comma and the units of a duration, shared by the catalogue's texts.
namespace OperatorText {

QString counted(qint64 n, const char *one, const char *few, const char *many)
{
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    const char *word = many;
    if (last == 1 && lastTwo != 11)
        word = one;
    else if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14))
        word = few;
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(word);
}

QString countedBytes(qint64 n)
{
    return counted(n, "bajt", "bajta", "bajtova");
}

QString countedBits(qint64 n)
{
    return counted(n, "bit", "bita", "bitova");
}

QString decimalComma(double value, char format, int precision)
{
    return QString::number(value, format, precision).replace(QLatin1Char('.'), QLatin1Char(','));
}

InUnit inUnit(double seconds, double below)
{
    if (seconds * 1e6 < below)
        return {seconds * 1e6, QLatin1String("us")};
    if (seconds * 1e3 < below)
        return {seconds * 1e3, QLatin1String("ms")};
    return {seconds, QLatin1String("s")};
}

QString quotedInput(const QString &text)
{
    // A box is read, not scrolled: a pasted megabyte shows as its first few characters.
    constexpr qsizetype kShown = 24;
    if (text.size() <= kShown)
        return QLatin1Char('"') + text + QLatin1Char('"');
    qsizetype cut = kShown - 3;
    if (text.at(cut - 1).isHighSurrogate())
        --cut; // never half a character
    return QLatin1Char('"') + text.left(cut) + QStringLiteral("...\"");
}

} // namespace OperatorText
