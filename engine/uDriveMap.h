#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

// Which ranges of clusters of a volume are claimed by which file-system
// records, so that the analysis can tell how much of a deleted file has been
// taken since by something written later.
//
// The cluster space is cut into a fixed number of equal chains; a recorded
// range is split at chain borders and each part kept in its chain, so a
// lookup visits only the chains its own range spans.

inline constexpr std::int32_t DriveMapChainCount = 65536;

// The date of a claim by a record in use: it holds its clusters now, which
// is later than any deleted record was written.
inline constexpr std::int64_t ClaimHeldNow = std::numeric_limits<std::int64_t>::max();

// Clusters from first to last, both inclusive.
using TClusterRange = std::pair<std::int64_t, std::int64_t>;

// How many clusters the ranges cover together, each counted once; sorts
// and merges them on the way.
std::int64_t CountClusters(std::vector<TClusterRange>& ARanges);

// One recorded part of a range, lying inside a single chain.
struct TDriveMapUsing {
  const void* Owner = nullptr;  // the claiming item, or nil for a live file or metafile
  std::int64_t OwnerDate = 0;   // when the claimant last wrote; ClaimHeldNow while it is in use
  std::int64_t Start = 0;       // first cluster, inclusive
  std::int64_t End = 0;         // last cluster, inclusive
  std::int64_t Record = -1;     // the claiming MFT record; -1 where none is known
};

struct TDriveMapChain {
  std::int64_t Start = 0;
  std::int64_t End = 0;
  // Kept by value in the order added: a large fragmented volume produces
  // millions of parts, and one contiguous block per chain keeps both the
  // scan's appends and the analysis's walks cheap.
  std::vector<TDriveMapUsing> Usings;
};

class TDriveMap {
public:
  explicit TDriveMap(std::int64_t AClusterCount);
  TDriveMap(const TDriveMap&) = delete;
  TDriveMap& operator=(const TDriveMap&) = delete;

  // Lays the chains out anew and drops every range, unless the count is the
  // one already laid out: then the recorded ranges stay.
  void SetClusterCount(std::int64_t AClusterCount);

  // Both cluster arguments are inclusive. Clusters outside the volume are
  // neither recorded nor counted.
  void AddUsing(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AOwner, std::int64_t AOwnerDate,
                std::int64_t ARecord = -1);

  // Clusters of the range claimed by owners other than AExcludeOwner dated
  // strictly later than AOwnerDate, each counted once however many such
  // owners claim it.
  std::int64_t IsUsed(std::int64_t AStartCluster, std::int64_t AEndCluster,
                      const void* AExcludeOwner, std::int64_t AOwnerDate) const;
  // Appends the parts of the range that IsUsed counts, as they were
  // claimed: they may overlap.
  void AddClaimedRanges(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AExcludeOwner,
                        std::int64_t AOwnerDate, std::vector<TClusterRange>& ARanges) const;
  // The same parts with who claims each: the usings cut to the range.
  void AddClaims(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AExcludeOwner,
                 std::int64_t AOwnerDate, std::vector<TDriveMapUsing>& AClaims) const;

  // Drops every range; the layout stays.
  void Clear();

  std::int64_t ClusterCount() const { return FClusterCount; }
  std::int64_t ChainSize() const { return FChainSize; }
  const TDriveMapChain& Chain(std::int32_t AIndex) const;
  // The chain a cluster of the volume belongs to.
  std::int32_t ChainOf(std::int64_t ACluster) const;

private:
  void LayOut(std::int64_t AClusterCount);
  // Narrows [AStart, AEnd] to the volume; false when nothing of it is left.
  bool ClipToVolume(std::int64_t& AStart, std::int64_t& AEnd) const;
  std::int64_t TailSliceOf(std::int64_t ACluster) const;
  void IndexTailUsing(std::size_t AIndex);
  // Hands AVisit each using that claims part of the range for the lookup,
  // with that part's first and last cluster.
  template <class TVisit>
  void VisitClaims(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AExcludeOwner,
                   std::int64_t AOwnerDate, TVisit&& AVisit) const;

  std::int64_t FClusterCount = 0;
  std::int64_t FChainSize = 0;
  std::vector<TDriveMapChain> FChains;  // exactly DriveMapChainCount, never resized
  // The last chain also holds the clusters the division leaves over, up to
  // 65,535 more: just short of a multiple of the chain count, that is nearly
  // half the volume in one chain. Its usings are indexed by slices of one
  // chain size (positions in its Usings), so that a lookup there visits
  // only the slices its range spans.
  std::vector<std::vector<std::size_t>> FTailSlices;
};
