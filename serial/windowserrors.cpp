// SPDX-License-Identifier: MIT
#include "serial/windowserrors.h"

namespace WindowsError {

namespace {

// The numbers of winerror.h that matter here (not every SDK has them all).
enum : unsigned long {
    kInvalidFunction = 1,
    kFileNotFound = 2,
    kPathNotFound = 3,
    kAccessDenied = 5,
    kInvalidHandle = 6,
    kNotReady = 21, // what a hung-up line answers
    kBadCommand = 22,
    kGenFailure = 31,
    kSharingViolation = 32,
    kNotSupported = 50,
    kDevNotExist = 55,
    kInvalidParameter = 87,
    kInvalidName = 123,
    kBusy = 170,
    kNoSuchDevice = 433,
    kOperationAborted = 995,
    kDeviceNotConnected = 1167,
    kDeviceRemoved = 1617,
};

} // namespace

LineDriver::Status lineStatus(unsigned long error)
{
    switch (error) {
    case kInvalidFunction:
    case kNotSupported:
    case kInvalidParameter:
        return LineDriver::Status::Unsupported;
    // An unplugged adapter or a hung-up line: drivers answer any of these.
    case kFileNotFound:
    case kAccessDenied:
    case kInvalidHandle:
    case kNotReady:
    case kBadCommand:
    case kGenFailure:
    case kDevNotExist:
    case kNoSuchDevice:
    case kOperationAborted:
    case kDeviceNotConnected:
    case kDeviceRemoved:
        return LineDriver::Status::Gone;
    default:
        return LineDriver::Status::Failed;
    }
}

OpenRefusal openRefusal(unsigned long error)
{
    switch (error) {
    case kFileNotFound:
    case kPathNotFound:
    case kInvalidName:
    case kDevNotExist:
    case kNoSuchDevice:
    case kDeviceNotConnected:
    case kDeviceRemoved:
    case kGenFailure: // a COM name left behind by an adapter that was pulled
        return OpenRefusal::NoSuchPort;
    case kAccessDenied:
    case kSharingViolation:
    case kBusy:
        return OpenRefusal::InUse;
    default:
        return OpenRefusal::NotASerialPort;
    }
}

} // namespace WindowsError
