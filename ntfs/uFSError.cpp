#include "ntfs/uFSError.h"
