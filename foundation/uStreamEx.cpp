#include "foundation/uStreamEx.h"
