#include "foundation/uSysPath.h"
