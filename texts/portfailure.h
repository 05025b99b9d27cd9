// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// A failure of the port layer as the operator sees it: our own number, a description in the
// operator's language and the name of the layer that raised it. Qt's English error strings
// never end up in here.
struct PortFailure
{
    int number = 0;
    QString description;
    QString source;
};

// The numbers of the port error report (the README has the table; the texts are in
// texts/failures.h). 1xx: a field or setting refused; 2xx: the open; 3xx: while open.
namespace PortError {
inline constexpr int PortNotANumber = 101;
inline constexpr int PortOutOfRange = 102;
inline constexpr int PortBelowOne = 103;
inline constexpr int BadBitRate = 104;
inline constexpr int BadQueueSize = 106;
inline constexpr int NoSuchPort = 201;
inline constexpr int PortInUse = 202;
inline constexpr int PermissionDenied = 203;
inline constexpr int NotASerialPort = 204;
inline constexpr int RateNotAccepted = 205;
inline constexpr int NumberChangedWhileOpen = 206;
inline constexpr int AlreadyOpen = 207;
inline constexpr int DeviceGone = 301;
inline constexpr int QueueFull = 302;
inline constexpr int WriteFailed = 303;
inline constexpr int PortClosed = 305;
inline constexpr int LinesFailed = 306;
} // namespace PortError
