#pragma once

#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSBytes.h"
#include "ntfs/uNTFSVolume.h"
#include "ntfs/uUnreadRanges.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Consecutive MFT records as the record pass gets them: fixed up, with the
// damage the FILE records among them show. Working that out here leaves
// the caller's thread more time for the rest.
class TMFTRecordBlock {
public:
  std::int64_t FirstRecord() const { return FFirstRecord; }
  std::int64_t Count() const { return FCount; }
  // Record AIndex of the block, counted from FirstRecord.
  TByteView Record(std::int64_t AIndex) const;
  // Whether the device failed to deliver some of record AIndex's bytes
  // (they read as zeros).
  bool WasUnread(std::int64_t AIndex) const;
  // The sectors of record AIndex that were torn while being written, when
  // it is a FILE record.
  std::vector<std::uint32_t> TornSectors(std::int64_t AIndex) const;
  // The attributes of record AIndex whose form does not hold together.
  std::vector<TAttributeDamage> DamagedAttributes(std::int64_t AIndex) const;

private:
  friend class TMFTRecordReader;

  std::int64_t FFirstRecord = 0;
  std::int64_t FCount = 0;
  std::uint32_t FRecordSize = 0;
  std::vector<std::uint8_t> FBytes;
  std::vector<std::int64_t> FUnreadRecords;
  std::vector<std::pair<std::int64_t, std::uint32_t>> FTornSectors;
  std::vector<std::pair<std::int64_t, TAttributeDamage>> FDamagedAttributes;
};

// Hands out the volume's MFT records in order, a block at a time. The MFT
// is read in large sequential requests by a thread of its own while the
// caller works on the block before, so that on a disk the parsing hides
// behind the reading. An MFT whose data is not a plain run list (only a
// damaged or crafted volume has one) is read by the caller itself.
//
// On a failing disk the reader alone reads again: a block the device did
// not deliver whole is asked for once more a record at a time, one request
// for each record it lacks. A failed request may take the device seconds,
// so before the next one is made the caller gets the records read so far
// and its turn, to show progress and to stop the reading.
class TMFTRecordReader {
public:
  // Called on the caller's thread while Next waits: after each of the
  // reader's requests that failed, before the next one, and otherwise at
  // least every kWaitSlice. Returns whether to go on; once it says no, the
  // reading stops and Next returns nil as after the last record.
  using TWaiting = std::function<bool()>;
  static constexpr std::chrono::milliseconds kWaitSlice{200};

  // Records 0 to ARecordCount - 1 of AVolume, which must outlive the
  // reader, in blocks of ARecordsPerBlock (0: a mebibyte's worth).
  TMFTRecordReader(PNTFSVolume AVolume, std::int64_t ARecordCount, std::int64_t ARecordsPerBlock = 0);
  // Stops the reading thread after the request it is making.
  ~TMFTRecordReader();
  TMFTRecordReader(const TMFTRecordReader&) = delete;
  TMFTRecordReader& operator=(const TMFTRecordReader&) = delete;

  // The next block, valid until the next call; nil after the last record.
  // Raises what stopped the reading.
  const TMFTRecordBlock* Next(const TWaiting& AWaiting = {});

private:
  void ReadAhead();
  std::unique_ptr<TMFTRecordBlock> TakeFree();
  void HandOut(std::unique_ptr<TMFTRecordBlock> ABlock);
  bool ReadAgainAndHandOut(std::unique_ptr<TMFTRecordBlock> ABlock, const std::vector<std::int64_t>& ALacking);
  bool MayReadOn(bool AFailed);
  std::unique_ptr<TMFTRecordBlock> TakeFilled(const TWaiting& AWaiting);
  bool ReadOnCallersThread(TMFTRecordBlock& ABlock, std::int64_t AFirstRecord, const TWaiting& AWaiting) const;

  std::vector<std::int64_t> ReadBlock(TMFTRecordBlock& ABlock, std::int64_t AFirstRecord) const;
  bool ReadRecordAgain(TMFTRecordBlock& ABlock, std::int64_t AIndex) const;
  void NoteDamage(TMFTRecordBlock& ABlock) const;
  void StartBlock(TMFTRecordBlock& ABlock, std::int64_t AFirstRecord, std::int64_t ACount) const;
  void SplitBlock(TMFTRecordBlock& ABlock, std::int64_t AIndex, TMFTRecordBlock& ARest) const;

  IStreamExPtr FStream; // the MFT's data, read through a device of its own
  std::uint32_t FRecordSize;
  std::int64_t FRecordCount;
  std::int64_t FRecordsPerBlock;
  std::int64_t FNextRecord = 0; // the first record of the next block to read

  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::unique_ptr<TMFTRecordBlock>> FFree;
  std::deque<std::unique_ptr<TMFTRecordBlock>> FFilled;
  std::unique_ptr<TMFTRecordBlock> FHandedOut;
  std::int64_t FFailedReads = 0;   // the reading thread's failed requests so far
  std::int64_t FFailuresHeard = 0; // those of them the caller has been told of
  bool FStopping = false;
  bool FFinished = false;
  std::exception_ptr FFailure;
  std::thread FThread;
};
