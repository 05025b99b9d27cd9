// SPDX-License-Identifier: MIT
#pragma once

// What the ioctl() recorder (ioctlrecorder.cpp) wrote to its log.

#include <QFile>
#include <QStringList>

// The terminal control calls made on `device`, in order, as "CALL ARGUMENT", of the kinds named.
inline QStringList recordedCalls(const QString &log, const QString &device,
                                 const QStringList &kinds)
{
    QFile file(log);
    QStringList calls;
    if (!file.open(QIODevice::ReadOnly))
        return calls;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 4 && fields[0] == QFile::encodeName(device) &&
            kinds.contains(QString::fromLatin1(fields[1])))
            calls << QString::fromLatin1(fields[1] + ' ' + fields[2]);
    }
    return calls;
}
