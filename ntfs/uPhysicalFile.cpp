#include "ntfs/uPhysicalFile.h"
