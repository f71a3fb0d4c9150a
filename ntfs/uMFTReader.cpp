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

const TMFTRecordBlock* TMFTRecordReader::Next(const TWaiting& AWaiting) {
  if (!FThread.joinable()) {
    if (FNextRecord >= FRecordCount)
      return nullptr;
    if (!ReadOnCallersThread(*FHandedOut, FNextRecord, AWaiting)) {
      FNextRecord = FRecordCount;
      return nullptr;
    }
    FNextRecord += FHandedOut->Count();
    return FHandedOut.get();
  }
  std::unique_ptr<TMFTRecordBlock> filled = TakeFilled(AWaiting);
  if (!filled)
    return nullptr;
  FHandedOut = std::move(filled);
  return FHandedOut.get();
}

// Gives the block handed out before back to the reading thread and waits
// for the next one read. While it waits, the caller gets its turn after
// each failed request of the reading thread, which does not go on until
// the caller has had it, and at least every slice of waiting.
std::unique_ptr<TMFTRecordBlock> TMFTRecordReader::TakeFilled(const TWaiting& AWaiting) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FHandedOut)
    FFree.push_back(std::move(FHandedOut));
  FChanged.notify_all();
  while (!FStopping && FFilled.empty() && !FFinished) {
    FChanged.wait_for(lock, kWaitSlice,
                      [this] { return !FFilled.empty() || FFinished || FFailuresHeard != FFailedReads; });
    if (!FFilled.empty() || FFinished)
      break;
    const std::int64_t failed = FFailedReads;
    lock.unlock();
    const bool goOn = !AWaiting || AWaiting();
    lock.lock();
    FFailuresHeard = failed;
    FStopping = FStopping || !goOn;
    FChanged.notify_all();
  }
  if (FStopping || FFilled.empty()) {
    if (FFailure && !FStopping)
      std::rethrow_exception(FFailure);
    return nullptr;
  }
  std::unique_ptr<TMFTRecordBlock> block = std::move(FFilled.front());
  FFilled.pop_front();
  return block;
}

void TMFTRecordReader::ReadAhead() {
  try {
    for (std::int64_t first = 0; first < FRecordCount;) {
      std::unique_ptr<TMFTRecordBlock> block = TakeFree();
      if (!block)
        break;
      const std::vector<std::int64_t> lacking = ReadBlock(*block, first);
      first += block->Count();
      if (!ReadAgainAndHandOut(std::move(block), lacking))
        break;
    }
  } catch (...) {
    const std::lock_guard<std::mutex> lock(FLock);
    FFailure = std::current_exception();
  }
  const std::lock_guard<std::mutex> lock(FLock);
  FFinished = true;
  FChanged.notify_all();
}

// A block to read into, once the caller has given one back; nil when the
// reader is being let go.
std::unique_ptr<TMFTRecordBlock> TMFTRecordReader::TakeFree() {
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this] { return !FFree.empty() || FStopping; });
  if (FStopping)
    return nullptr;
  std::unique_ptr<TMFTRecordBlock> block = std::move(FFree.front());
  FFree.pop_front();
  return block;
}

void TMFTRecordReader::HandOut(std::unique_ptr<TMFTRecordBlock> ABlock) {
  NoteDamage(*ABlock);
  const std::lock_guard<std::mutex> lock(FLock);
  FFilled.push_back(std::move(ABlock));
  FChanged.notify_all();
}

// Each record the block's request did not deliver is asked for again on
// its own. After a failed request the records before the next one go to
// the caller, and the reading waits until the caller has heard of the
// failure: progress goes on record by record through a bad region, and a
// caller that stops there keeps every record read before.
bool TMFTRecordReader::ReadAgainAndHandOut(std::unique_ptr<TMFTRecordBlock> ABlock,
                                           const std::vector<std::int64_t>& ALacking) {
  bool failed = !ALacking.empty();
  std::int64_t handedOut = 0; // records of the block already with the caller
  for (const std::int64_t lacking : ALacking) {
    if (failed && lacking > handedOut) {
      std::unique_ptr<TMFTRecordBlock> rest = TakeFree();
      if (!rest)
        return false;
      SplitBlock(*ABlock, lacking - handedOut, *rest);
      HandOut(std::move(ABlock));
      ABlock = std::move(rest);
      handedOut = lacking;
    }
    if (!MayReadOn(failed))
      return false;
    failed = ReadRecordAgain(*ABlock, lacking - handedOut);
  }
  HandOut(std::move(ABlock));
  return MayReadOn(failed);
}

// The reading thread's way on after each request: a failed one is first
// told to the caller, and the reading waits until the caller has heard
// of it.
bool TMFTRecordReader::MayReadOn(bool AFailed) {
  std::unique_lock<std::mutex> lock(FLock);
  if (AFailed) {
    ++FFailedReads;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FFailuresHeard == FFailedReads || FStopping; });
  }
  return !FStopping;
}

// Without a thread of its own the reader reads a whole block before the
// caller gets it; the caller's turn comes after each failed request.
bool TMFTRecordReader::ReadOnCallersThread(TMFTRecordBlock& ABlock, std::int64_t AFirstRecord,
                                           const TWaiting& AWaiting) const {
  const std::vector<std::int64_t> lacking = ReadBlock(ABlock, AFirstRecord);
  bool failed = !lacking.empty();
  for (const std::int64_t index : lacking) {
    if (failed && AWaiting && !AWaiting())
      return false;
    failed = ReadRecordAgain(ABlock, index);
  }
  NoteDamage(ABlock);
  return true;
}

// Reads the records of one block in one request; returns those of them
// whose bytes the device did not all deliver. The stream notes unread bytes
// in order, so only its last range from before the block, and those after
// it, can touch the block.
std::vector<std::int64_t> TMFTRecordReader::ReadBlock(TMFTRecordBlock& ABlock, std::int64_t AFirstRecord) const {
  StartBlock(ABlock, AFirstRecord, std::min(FRecordsPerBlock, FRecordCount - AFirstRecord));
  const std::int64_t start = AFirstRecord * FRecordSize;
  const std::int64_t length = ABlock.FCount * FRecordSize;
  ABlock.FBytes.resize(static_cast<std::size_t>(length));

  const auto* unread = dynamic_cast<const IUnreadReporter*>(FStream.get());
  const std::int64_t notedBefore = NotedOf(unread);
  const std::size_t rangesBefore = unread ? unread->UnreadRanges().size() : 0;
  const std::int64_t delivered = std::clamp<std::int64_t>(FStream->Read(start, length, ABlock.FBytes.data()), 0, length);
  std::memset(ABlock.FBytes.data() + delivered, 0, static_cast<std::size_t>(length - delivered));
  std::vector<std::int64_t> lacking;
  if (NotedOf(unread) == notedBefore)
    return lacking;
  const std::vector<TByteRange>& ranges = unread->UnreadRanges();
  for (std::size_t i = rangesBefore > 0 ? rangesBefore - 1 : 0; i < ranges.size(); ++i) {
    const std::int64_t from = std::max(ranges[i].Offset, start);
    const std::int64_t to = std::min(ranges[i].Offset + ranges[i].Length, start + length);
    for (std::int64_t record = (from - start) / FRecordSize; from < to && record <= (to - 1 - start) / FRecordSize;
         ++record)
      if (lacking.empty() || lacking.back() < record)
        lacking.push_back(record);
  }
  return lacking;
}

// A device fails a whole request for one bad sector: a record the block's
// request did not deliver is asked for again on its own, and counts as
// unread only when that fails too. Returns whether it did.
bool TMFTRecordReader::ReadRecordAgain(TMFTRecordBlock& ABlock, std::int64_t AIndex) const {
  const auto& unread = dynamic_cast<const IUnreadReporter&>(*FStream);
  const std::int64_t noted = unread.UnreadBytesNoted();
  FStream->Read((ABlock.FFirstRecord + AIndex) * FRecordSize, FRecordSize, ABlock.FBytes.data() + AIndex * FRecordSize);
  if (unread.UnreadBytesNoted() == noted)
    return false;
  ABlock.FUnreadRecords.push_back(AIndex);
  return true;
}

// Fixes up each record of the block and notes the damage the FILE records
// among them show.
void TMFTRecordReader::NoteDamage(TMFTRecordBlock& ABlock) const {
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

void TMFTRecordReader::StartBlock(TMFTRecordBlock& ABlock, std::int64_t AFirstRecord, std::int64_t ACount) const {
  ABlock.FFirstRecord = AFirstRecord;
  ABlock.FCount = ACount;
  ABlock.FRecordSize = FRecordSize;
  ABlock.FUnreadRecords.clear();
  ABlock.FTornSectors.clear();
  ABlock.FDamagedAttributes.clear();
}

// Moves the records of ABlock from AIndex on into ARest. Only records
// before AIndex have been read again, so all the block's unread records
// stay with it.
void TMFTRecordReader::SplitBlock(TMFTRecordBlock& ABlock, std::int64_t AIndex, TMFTRecordBlock& ARest) const {
  StartBlock(ARest, ABlock.FFirstRecord + AIndex, ABlock.FCount - AIndex);
  const auto split = ABlock.FBytes.begin() + AIndex * FRecordSize;
  ARest.FBytes.assign(split, ABlock.FBytes.end());
  ABlock.FBytes.erase(split, ABlock.FBytes.end());
  ABlock.FCount = AIndex;
}
