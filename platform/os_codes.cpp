// The operator's plain meaning of each OS code the file layer reports.
#include <string_view>

#include "platform/file.h"

namespace lum {

std::string_view os_code_meaning(int oscode) {
  switch (oscode) {
    case kOsOk:
      return "no error";
    case kOsFileNotFound:
      return "file not found";
    case kOsPathNotFound:
      return "path not found";
    case kOsTooManyOpenFiles:
      return "too many open files";
    case kOsAccessDenied:
      return "access denied";
    case kOsNotEnoughMemory:
      return "not enough memory";
    case kOsNotSameDevice:
      return "not the same drive";
    case kOsWriteProtected:
      return "disk write-protected";
    case kOsNotReady:
      return "device not ready";
    case kOsDataError:
      return "data error on the disk";
    case kOsWriteFault:
      return "write fault";
    case kOsReadFault:
      return "read fault";
    case kOsDeviceFailure:
      return "device not working";
    case kOsFileInUse:
      return "in use by another program";
    case kOsTooManyLocks:
      return "too many locks";
    case kOsNotSupported:
      return "not supported";
    case kOsNetworkPathNotFound:
      return "network path not found";
    case kOsNetworkNameGone:
      return "network file no longer available";
    case kOsFileExists:
    case kOsAlreadyExists:
      return "file already exists";
    case kOsInvalidParameter:
      return "invalid request";
    case kOsPipeClosed:
      return "pipe closed";
    case kOsDiskFull:
      return "disk full";
    case kOsTimedOut:
      return "timed out";
    case kOsDirectoryNotEmpty:
      return "directory not empty";
    case kOsNameTooLong:
      return "name too long";
    case kOsFileTooLarge:
      return "file too large";
    case kOsInterrupted:
      return "interrupted";
    case kOsDeviceError:
      return "device input/output error";
    case kOsTooManyLinks:
      return "too many links";
    case kOsCannotResolve:
      return "name cannot be resolved";
    default:
      return "system error";
  }
}

}  // namespace lum
