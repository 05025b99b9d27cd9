#include "train/decoder.h"

#include <QList>

namespace {

// A "character" of the train text is one Unicode code point: a letter outside the Basic
// Multilingual Plane is one separator, as the operator sees it, not two halves of a pair.
QList<uint> charactersOf(const QString &text)
{
    return text.toUcs4();
}

int digitValue(uint character)
{
    if (character >= '0' && character <= '9')
        return int(character - '0');
    if (character >= 'A' && character <= 'F')
        return int(character - 'A') + 10;
    return 0;
}

int tokenValue(const QList<uint> &characters, qsizetype first, qsizetype count)
{
    const int high = count > 0 ? digitValue(characters[first]) : 0;
    const int low = count > 1 ? digitValue(characters[first + 1]) : 0;
    return high * 16 + low;
}

} // namespace

qint16 HexStringToChar(const QString &DioZapisa)
{
    const QList<uint> characters = charactersOf(DioZapisa.left(4));
    return qint16(tokenValue(characters, 0, std::min<qsizetype>(characters.size(), 2)));
}

qint64 trainByteCount(const QString &text)
{
    const qint64 n = charactersOf(text).size();
    return (n + 2) / 3;
}

int trainCapacity(Terminator terminator)
{
    return terminator == Terminator::Zero ? kPovorkaSlots - 1 : kPovorkaSlots;
}

std::optional<TrainTooLong> walkTrain(const QString &text, Terminator terminator,
                                      PovorkaBuffer &povorka, qint16 &brojBajtova)
{
    const QList<uint> characters = charactersOf(text);
    const qsizetype n = characters.size();
    const qint64 count = (qint64(n) + 2) / 3;
    const int capacity = trainCapacity(terminator);
    if (count > capacity)
        return TrainTooLong{count, capacity};

    qsizetype slot = 0;
    for (qsizetype p = 0; p < n; p += 3)
        povorka[size_t(slot++)] = quint8(tokenValue(characters, p, std::min<qsizetype>(n - p, 2)));
    if (terminator == Terminator::Zero)
        povorka[size_t(slot)] = 0;
    brojBajtova = qint16(slot);
    return std::nullopt;
}

QString trainTooLongMessage(const TrainTooLong &refusal)
{
    return QStringLiteral("Povorka je preduga: tekst daje %1 bajtova, a stane najvise %2. "
                          "Skratite podatke za slanje.")
        .arg(refusal.bytes)
        .arg(refusal.capacity);
}
