#include "ntfs/uMFTRunList.h"
