#pragma once

#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSVolume.h"

#include <cstdint>
#include <optional>
#include <string>

// Reading whole files off a real volume the way recovery reads them, for
// comparison with what other tools read from the same image.
namespace volumereading {

// Every byte the stream delivers, from position 0 until a read comes back
// empty.
std::string ReadWhole(const IStreamExPtr& AStream);

// Moves the search to the record's first unnamed $DATA attribute, the one
// recovery restores; false when the record has none.
bool FindUnnamedData(TAttributeSearch& ASearch);

// The node's unnamed data read whole through GetDataStream; nothing when the
// record has no unnamed $DATA.
std::optional<std::string> ReadUnnamedData(PNTFSNode ANode);

// The name the record's $FILE_NAME gives (the Win32 one where there are
// several), in UTF-8: from the base record as the scan reads it, else from an
// extension record through the attribute list; empty when there is none.
std::string FileNameOf(PNTFSNode ANode);

// An image opened with NTFSVolumeInit and held for the guard's life.
class TOpenedVolume {
public:
  explicit TOpenedVolume(const std::string& AImage);
  PNTFSVolume Get() const { return FRef.Get(); }
  PNTFSVolume operator->() const { return FRef.Get(); }

private:
  TNTFSVolumeRef FRef;
};

} // namespace volumereading
