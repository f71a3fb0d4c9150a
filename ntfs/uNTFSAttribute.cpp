#include "ntfs/uNTFSAttribute.h"
