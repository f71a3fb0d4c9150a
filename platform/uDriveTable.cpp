#include "platform/uDriveTable.h"
