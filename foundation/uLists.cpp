#include "foundation/uLists.h"
