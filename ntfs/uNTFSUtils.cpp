#include "ntfs/uNTFSUtils.h"
