#include "ntfs/uFSError.h"

// Out of line so that each class has one home for its type information.
FSError::~FSError() = default;
CustomDriveException::~CustomDriveException() = default;
NoDriveException::~NoDriveException() = default;
AccessDeniedException::~AccessDeniedException() = default;
CompressedDataException::~CompressedDataException() = default;
