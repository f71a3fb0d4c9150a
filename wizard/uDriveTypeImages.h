#pragma once

#include <QList>
#include <QPixmap>

#include "platform/uDriveList.h"

// The pictures of the drive list, 24 x 24 pixels, one per TDriveType value in
// its order, so that a drive's type is the index of its picture.
inline constexpr int DriveTypeImageSize = 24;
QList<QPixmap> DrawDriveTypeImages();
