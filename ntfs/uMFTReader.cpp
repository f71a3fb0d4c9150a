#include "ntfs/uMFTReader.h"

#include "ntfs/uMFTRunList.h"
#include "ntfs/uNTFSUtils.h"
#include "ntfs/uPhysicalFile.h"

#include <algorithm>
#include <cstring>

namespace {

// Large enough for the device to stream, small enough that the first
// records reach the caller at once and a cancel is not kept waiting.
constexpr std::int64_t kBlockBytes = 1 << 20;
// Blocks in flight: one with the caller, the others being read or waiting.
constexpr std::size_t kBlocks = 4;

// The MFT's data read through a device of its own, for the reading thread:
// the volume's device keeps a cache that only one thread may use. The
// reader's requests are large, and those it makes again must ask for just
// one record, so its device has no cache; the stream leaves the asking
// again to the reader. Nil when the MFT is not read through a run list
// over the source.
IStreamExPtr OwnMFTStream(PNTFSVolume AVolume) {
  const auto* mft = dynamic_cast<const TMFTRunListStream*>(AVolume->MFTDataStream.get());
  const auto* device = dynamic_cast<const TPhysicalFile*>(AVolume->Device.get());
  if (mft == nullptr || device == nullptr)
    return nullptr;
  device->Source()->ExpectSequentialReads();
  return mft->ReadThrough(std::make_shared<TPhysicalFile>(device->Name(), device->Source(), TPhysicalFile::kNoCache),
                          TMFTRunListStream::TRereads::ByCaller);
}

// How many unread bytes AReporter noted so far, to tell whether a read
// added to them.
std::int64_t NotedOf(const IUnreadReporter* AReporter) {
  return AReporter ? AReporter->UnreadBytesNoted() : 0;
}

} // namespace

TByteView TMFTRecordBlock::Record(std::int64_t AIndex) const {
  return TByteView(FBytes.data() + AIndex * FRecordSize, FRecordSize);
}

bool TMFTRecordBlock::WasUnread(std::int64_t AIndex) const {
  return std::binary_search(FUnreadRecords.begin(), FUnreadRecords.end(), AIndex);
}

namespace {

// The second of every pair whose first is AIndex. The pairs come in record
// order, so a damaged volume does not make each record search them all.
template <typename T>
std::vector<T> OfRecord(const std::vector<std::pair<std::int64_t, T>>& APairs, std::int64_t AIndex) {
  auto pair = std::lower_bound(APairs.begin(), APairs.end(), AIndex,
                               [](const auto& APair, std::int64_t ARecord) { return APair.first < ARecord; });
  std::vector<T> found;
  for (; pair != APairs.end() && pair->first == AIndex; ++pair)
    found.push_back(pair->second);
  return found;
}

} // namespace

std::vector<std::uint32_t> TMFTRecordBlock::TornSectors(std::int64_t AIndex) const {
  return OfRecord(FTornSectors, AIndex);
}

std::vector<TAttributeDamage> TMFTRecordBlock::DamagedAttributes(std::int64_t AIndex) const {
  return OfRecord(FDamagedAttributes, AIndex);
}

TMFTRecordReader::TMFTRecordReader(PNTFSVolume AVolume, std::int64_t ARecordCount, std::int64_t ARecordsPerBlock)
    : FStream(OwnMFTStream(AVolume)),
      FRecordSize(AVolume->MFTRecordSize),
      FRecordCount(ARecordCount),
      FRecordsPerBlock(ARecordsPerBlock > 0
                           ? ARecordsPerBlock
                           : std::max<std::int64_t>(1, kBlockBytes / std::max<std::uint32_t>(FRecordSize, 1))) {
  FHandedOut = std::make_unique<TMFTRecordBlock>();
  // A volume that delivered no bytes has no records, and no size for them.
  if (!FStream || FRecordCount <= 0) {
    FStream = AVolume->MFTDataStream;
    return;
  }
  for (std::size_t i = 1; i < kBlocks; ++i)
    FFree.push_back(std::make_unique<TMFTRecordBlock>());
  FThread = std::thread(&TMFTRecordReader::ReadAhead, this);
}

TMFTRecordReader::~TMFTRecordReader() {
  if (!FThread.joinable())
    return;
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FStopping = true;
  }
  FChanged.notify_all();
  FThread.join();
}

const TMFTRecordBlock* TMFTRecordReader::Next() {
  if (!FThread.joinable()) {
    if (FNextRecord >= FRecordCount)
      return nullptr;
    ReadBlock(*FHandedOut, FNextRecord);
    FNextRecord += FHandedOut->Count();
    return FHandedOut.get();
  }
  std::unique_ptr<TMFTRecordBlock> filled = TakeFilled();
  if (!filled)
    return nullptr;
  FHandedOut = std::move(filled);
  return FHandedOut.get();
}

// Gives the block handed out before back to the reading thread and waits
// for the next one read.
std::unique_ptr<TMFTRecordBlock> TMFTRecordReader::TakeFilled() {
  std::unique_lock<std::mutex> lock(FLock);
  if (FHandedOut)
    FFree.push_back(std::move(FHandedOut));
  FChanged.notify_all();
  FChanged.wait(lock, [this] { return !FFilled.empty() || FFinished; });
  if (FFilled.empty()) {
    if (FFailure)
      std::rethrow_exception(FFailure);
    return nullptr;
  }
  std::unique_ptr<TMFTRecordBlock> block = std::move(FFilled.front());
  FFilled.pop_front();
  return block;
}

// A device fails a whole request for one bad sector: every record the
// block's read could not deliver is read again on its own, and only those
// that fail then count as unread. The stream notes unread bytes in order,
// so only its last range from before the block, and those after it, can
// touch the block.
void TMFTRecordReader::ReadUnreadAgain(TMFTRecordBlock& ABlock, const IUnreadReporter& AUnread,
                                       std::size_t ARangesBefore) const {
  const std::int64_t start = ABlock.FFirstRecord * FRecordSize;
  const std::int64_t end = start + ABlock.FCount * FRecordSize;
  std::vector<std::int64_t> touched;
  const std::vector<TByteRange>& ranges = AUnread.UnreadRanges();
  for (std::size_t i = ARangesBefore > 0 ? ARangesBefore - 1 : 0; i < ranges.size(); ++i) {
    const std::int64_t from = std::max(ranges[i].Offset, start);
    const std::int64_t to = std::min(ranges[i].Offset + ranges[i].Length, end);
    for (std::int64_t record = (from - start) / FRecordSize; from < to && record <= (to - 1 - start) / FRecordSize;
         ++record)
      if (touched.empty() || touched.back() < record)
        touched.push_back(record);
  }
  for (const std::int64_t record : touched) {
    const std::int64_t noted = AUnread.UnreadBytesNoted();
    FStream->Read(start + record * FRecordSize, FRecordSize, ABlock.FBytes.data() + record * FRecordSize);
    if (AUnread.UnreadBytesNoted() != noted)
      ABlock.FUnreadRecords.push_back(record);
  }
}

void TMFTRecordReader::ReadAhead() {
  try {
    for (std::int64_t first = 0; first < FRecordCount;) {
      std::unique_ptr<TMFTRecordBlock> block;
      {
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait(lock, [this] { return !FFree.empty() || FStopping; });
        if (FStopping)
          break;
        block = std::move(FFree.front());
        FFree.pop_front();
      }
      ReadBlock(*block, first);
      first += block->Count();
      const std::lock_guard<std::mutex> lock(FLock);
      FFilled.push_back(std::move(block));
      FChanged.notify_all();
    }
  } catch (...) {
    const std::lock_guard<std::mutex> lock(FLock);
    FFailure = std::current_exception();
  }
  const std::lock_guard<std::mutex> lock(FLock);
  FFinished = true;
  FChanged.notify_all();
}

// Reads and fixes up the records of one block.
void TMFTRecordReader::ReadBlock(TMFTRecordBlock& ABlock, std::int64_t AFirstRecord) const {
  ABlock.FFirstRecord = AFirstRecord;
  ABlock.FCount = std::min(FRecordsPerBlock, FRecordCount - AFirstRecord);
  ABlock.FRecordSize = FRecordSize;
  ABlock.FUnreadRecords.clear();
  ABlock.FTornSectors.clear();
  ABlock.FDamagedAttributes.clear();
  const std::int64_t start = AFirstRecord * FRecordSize;
  const std::int64_t length = ABlock.FCount * FRecordSize;
  ABlock.FBytes.resize(static_cast<std::size_t>(length));

  const auto* unread = dynamic_cast<const IUnreadReporter*>(FStream.get());
  const std::int64_t notedBefore = NotedOf(unread);
  const std::size_t rangesBefore = unread ? unread->UnreadRanges().size() : 0;
  const std::int64_t delivered = std::clamp<std::int64_t>(FStream->Read(start, length, ABlock.FBytes.data()), 0, length);
  std::memset(ABlock.FBytes.data() + delivered, 0, static_cast<std::size_t>(length - delivered));
  if (NotedOf(unread) != notedBefore)
    ReadUnreadAgain(ABlock, *unread, rangesBefore);

  std::vector<std::uint32_t> torn;
  for (std::int64_t i = 0; i < ABlock.FCount; ++i) {
    NTFSUtils::FixupRecord(ABlock.FBytes.data() + i * FRecordSize, FRecordSize, &torn);
    const TByteView record = ABlock.Record(i);
    if (!PMFTRecord(record).IsFileRecord())
      continue;
    for (const std::uint32_t sector : torn)
      ABlock.FTornSectors.emplace_back(i, sector);
    for (const TAttributeDamage& damage : NTFSAttribute::DamagedAttributes(record))
      ABlock.FDamagedAttributes.emplace_back(i, damage);
  }
}
