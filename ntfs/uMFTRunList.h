#pragma once

#include "foundation/uStreamEx.h"
#include "ntfs/uNTFSVolume.h"
#include "ntfs/uUnreadRanges.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

// One decoded data run: Length clusters from VCN on, stored from LCN on;
// an LCN of 0 marks a sparse run that has no clusters on disk.
struct RunListElement {
  NTFS_VCN VCN = 0;
  NTFS_LCN LCN = 0;
  std::int64_t Length = 0;

  bool operator==(const RunListElement&) const = default;
};

// The runs of one non-resident attribute, in VCN order.
class IMFTRunList {
public:
  virtual ~IMFTRunList() = default;
  // The LCN of AVCN; 0 when it is sparse or no run covers it.
  virtual NTFS_LCN VCN2LCN(NTFS_VCN AVCN) = 0;
  // What is left of the run that covers AVCN, from AVCN on: its VCN is
  // AVCN, its LCN that of AVCN (0 when sparse), its Length the clusters up
  // to the run's end. Length 0 when no run covers AVCN.
  virtual RunListElement RunAt(NTFS_VCN AVCN) = 0;
  // Decodes the data runs of one extent and appends them after the runs
  // already held; returns how many runs were added.
  virtual std::int32_t Decompress(const void* AData, std::int32_t ADataSize) = 0;
  virtual std::int32_t ItemCount() = 0;
  // Run AIndex; throws std::out_of_range for an index outside the list.
  virtual RunListElement Item(std::int32_t AIndex) = 0;
  // Clusters covered by all runs, sparse runs included.
  virtual std::int64_t VCNCount() = 0;
  // Whether a run with clusters on disk covers ALCN.
  virtual bool IsUse(NTFS_LCN ALCN) = 0;
  virtual void Clear() = 0;
};
using IMFTRunListPtr = std::shared_ptr<IMFTRunList>;

class MFTRunList : public IMFTRunList {
public:
  static IMFTRunListPtr New();
  // A list of runs decoded before, back to back from VCN 0 on.
  static IMFTRunListPtr New(std::vector<RunListElement> ARuns);

  NTFS_LCN VCN2LCN(NTFS_VCN AVCN) override;
  RunListElement RunAt(NTFS_VCN AVCN) override;
  std::int32_t Decompress(const void* AData, std::int32_t ADataSize) override;
  std::int32_t ItemCount() override;
  RunListElement Item(std::int32_t AIndex) override;
  std::int64_t VCNCount() override;
  bool IsUse(NTFS_LCN ALCN) override;
  void Clear() override;

private:
  MFTRunList() = default;
  void SortItems();

  std::int64_t FVCNCount = 0;
  std::vector<RunListElement> FItems;
};

// Reads ALength bytes from byte AOffset of the clusters that start at
// ALCN. Bytes the device does not deliver (past the end of the volume, a
// failed read) read as zeros rather than as whatever ADest held before;
// returns how many bytes the device did deliver, from the start.
std::int64_t ReadClusterBytes(IStreamEx& AVolumeStream, std::uint32_t AClusterSize, NTFS_LCN ALCN,
                              std::int64_t AOffset, std::int64_t ALength, std::uint8_t* ADest);

// Bytes a read could not fill from the device: offset from the start of
// the read, and length.
using TUnreadBytes = std::function<void(std::int64_t AOffset, std::int64_t ALength)>;

// Reads as ReadClusterBytes does, but what the device does not deliver is
// asked for again in smaller pieces, down to single sectors, so that only
// the sectors that fail are lost; each of those goes to AOnUnread, and so
// does the rest once AKeepRereading says no.
void ReadClusterBytesNarrowing(IStreamEx& AVolumeStream, std::uint32_t AClusterSize, NTFS_LCN ALCN,
                               std::int64_t AOffset, std::int64_t ALength, std::uint8_t* ADest,
                               const TUnreadBytes& AOnUnread, const TKeepRereading& AKeepRereading);

// The data of a non-resident attribute: reads map stream positions through
// the run list onto clusters of the volume; sparse clusters read as zeros.
// Clusters on disk that the device cannot deliver (a bad sector, a cluster
// past the end of the volume), and positions past the end of the runs (a
// run list that breaks off), read as zeros too, and the stream remembers
// both kinds of positions so that the reader can say so.
class TMFTRunListStream : public IStreamEx, public IUnreadReporter {
public:
  // Bytes from AValidSize on (the attribute's initialized size) were never
  // written by the file: they read as zeros, as Windows hands them out,
  // rather than as whatever the clusters held before.
  TMFTRunListStream(IStreamExPtr AVolumeStream, std::uint32_t AClusterSize, IMFTRunListPtr ARunList,
                    std::int64_t ADataSize, std::int64_t AValidSize = std::numeric_limits<std::int64_t>::max());

  std::int64_t Read(std::int64_t APos, std::int64_t ASize, void* ADest) override;
  std::int64_t Size() override;

  // What becomes of a span of clusters the device did not deliver whole.
  enum class TRereads {
    // Asked for again a cluster at a time, so that only the clusters that
    // fail are lost: restores read this way.
    ByCluster,
    // Noted as unread as it came: the caller asks again in pieces of its
    // own, a record at a time for the MFT's reader.
    ByCaller,
  };

  // The same data read through another device stream, with reads of its own
  // to tell of: a second reader, on another thread, needs both.
  std::shared_ptr<TMFTRunListStream> ReadThrough(IStreamExPtr AVolumeStream, TRereads ARereads) const;

  // What reads so far had to fill with zeros for want of the device's bytes.
  const std::vector<TByteRange>& UnreadRanges() const override { return FUnread.Ranges(); }
  std::int64_t UnreadBytesNoted() const override { return FUnread.NotedBytes(); }
  void SetKeepRereading(TKeepRereading AKeepRereading) { FKeepRereading = std::move(AKeepRereading); }
  // What reads so far filled with zeros because no run reaches it.
  const std::vector<TByteRange>& NoRunsRanges() const { return FNoRuns.Ranges(); }

private:
  // How far reads go: the data size, bounded where no run reaches.
  std::int64_t ReadableSize();
  // Fills ALength bytes of ADest from stream position APosition on, all of
  // them inside ARun, the part of a run RunAt gave for APosition's cluster.
  void ReadSpan(std::int64_t APosition, const RunListElement& ARun, std::int64_t ALength, std::uint8_t* ADest);

  std::int64_t FDataSize;
  std::int64_t FValidSize;
  IMFTRunListPtr FRunList;
  IStreamExPtr FVolumeStream;
  std::uint32_t FClusterSize;
  std::uint8_t FClusterSizeBits;
  TRereads FRereads = TRereads::ByCluster;
  TKeepRereading FKeepRereading;
  TUnreadRanges FUnread;
  TUnreadRanges FNoRuns;
};

// The unread ranges of a stream that reports them; none for any other.
std::vector<TByteRange> UnreadRangesOf(const IStreamEx& AStream);
// The ranges of a run-list stream that no run reaches; none for any other.
std::vector<TByteRange> NoRunsRangesOf(const IStreamEx& AStream);
