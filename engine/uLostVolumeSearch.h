#pragma once

#include "platform/uLostVolumes.h"

#include <vector>

// SearchLostVolumes as a long job of the progress service: its views show
// the bytes searched and the time left, and a cancel ends the search with
// what it found until then.
std::vector<TLostVolume> SearchLostVolumesWithProgress(const IVolumeSourcePtr& ASource, bool ADeep);
