#include "ntfs/uNTFSVolume.h"
