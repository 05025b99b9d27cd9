// SPDX-License-Identifier: MIT
#pragma once

#include "texts/portfailure.h"

// Error 202 for a device that another holder refused us, with what can be found out about the
// holder: a live program, a lock file that a dead program of another user left behind, or a
// device kept exclusive (by a live program, or by one that crashed on a virtual port), each with
// what the operator can do about it.
PortFailure portBusyFailure(const QString &path);

// The lock file QSerialPort keeps for `path` ("LCK.." and the name under /dev with '/' as '_', in
// the first of its folders that has one); empty when there is none. Only read, never written.
QString serialLockFile(const QString &path);

// Removes the lock file of `path` when the program that made it is gone (killed, or dead on a
// terminal that will be someone else's next). False while its program runs, or when the file
// cannot be removed (another user's, in a sticky folder).
bool removeStaleSerialLock(const QString &path);
