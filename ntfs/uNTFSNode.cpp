#include "ntfs/uNTFSNode.h"
