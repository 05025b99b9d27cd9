// SPDX-License-Identifier: MIT
#include "train/decoder.h"

#include <QList>

namespace {

// A "character" of the train text is one Unicode code point: a letter outside the Basic
// Multilingual Plane is one separator, as the operator sees it, not two halves of a pair.
QList<uint> charactersOf(const QString &text)
{
    return text.toUcs4();
}

// One byte per started group of three characters: two for the token, one skipped.
qint64 bytesFor(qsizetype characters)
{
    return (qint64(characters) + 2) / 3;
}

int digitValue(uint character)
{
    if (character >= '0' && character <= '9')
        return int(character - '0');
    if (character >= 'A' && character <= 'F')
        return int(character - 'A') + 10;
    return 0;
}

} // namespace

qint16 HexStringToChar(const QString &DioZapisa)
{
    // Two code points take at most four UTF-16 units; nothing after them is looked at.
    const QList<uint> characters = charactersOf(DioZapisa.left(4));
    const int high = characters.size() > 0 ? digitValue(characters[0]) : 0;
    const int low = characters.size() > 1 ? digitValue(characters[1]) : 0;
    return qint16(high * 16 + low);
}

qint64 trainByteCount(const QString &text)
{
    return bytesFor(charactersOf(text).size());
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
    const qint64 count = bytesFor(n);
    const int capacity = trainCapacity(terminator);
    if (count > capacity)
        return TrainTooLong{count, capacity};

    qsizetype slot = 0;
    for (qsizetype p = 0; p < n; p += 3) {
        // The two characters at p, or the one at p when it is the last.
        const QString token =
            QString::fromUcs4(reinterpret_cast<const char32_t *>(characters.constData() + p),
                              std::min<qsizetype>(n - p, 2));
        povorka[size_t(slot++)] = quint8(HexStringToChar(token));
    }
    if (terminator == Terminator::Zero)
        povorka[size_t(slot)] = 0;
    brojBajtova = qint16(slot);
    return std::nullopt;
}
