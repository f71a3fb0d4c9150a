#include "platform/uShadowCopies.h"

// The library reads through a libbfio handle only when libbfio's header
// comes first.
#include <libbfio.h>
#include <libvshadow.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

namespace {

constexpr std::size_t kErrorTextSize = 512;
// A snapshot's first sector is its boot sector: a store whose block list
// cannot be read fails already there.
constexpr std::int64_t kProbeSize = 512;

std::string ErrorTextOf(libvshadow_error_t* AError) {
  std::array<char, kErrorTextSize> text{};
  if (AError == nullptr || libvshadow_error_sprint(AError, text.data(), text.size()) < 0)
    return "unknown error";
  return text.data();
}

// The raw volume as libbfio reads it: a position and the source below it.
struct TRawVolumeReader {
  IVolumeSourcePtr Volume;
  std::int64_t Position = 0;
};

TRawVolumeReader* ReaderOf(intptr_t* AHandle) { return reinterpret_cast<TRawVolumeReader*>(AHandle); }

int FreeReader(intptr_t** AHandle, libbfio_error_t** /*AError*/) {
  delete ReaderOf(*AHandle);
  *AHandle = nullptr;
  return 1;
}

int CloneReader(intptr_t** ADestination, intptr_t* ASource, libbfio_error_t** /*AError*/) {
  *ADestination = reinterpret_cast<intptr_t*>(new TRawVolumeReader(*ReaderOf(ASource)));
  return 1;
}

// The source is open for as long as the reader lives.
int OpenReader(intptr_t* /*AHandle*/, int /*AFlags*/, libbfio_error_t** /*AError*/) { return 1; }
int CloseReader(intptr_t* /*AHandle*/, libbfio_error_t** /*AError*/) { return 1; }
int ReaderExists(intptr_t* /*AHandle*/, libbfio_error_t** /*AError*/) { return 1; }
int ReaderIsOpen(intptr_t* /*AHandle*/, libbfio_error_t** /*AError*/) { return 1; }

// Bytes the volume cannot deliver fail the read: the store's metadata must
// never be taken from zeros that stand in for a bad sector.
ssize_t ReadRaw(intptr_t* AHandle, uint8_t* ABuffer, size_t ASize, libbfio_error_t** /*AError*/) {
  TRawVolumeReader& reader = *ReaderOf(AHandle);
  std::int64_t done = 0;
  while (done < static_cast<std::int64_t>(ASize)) {
    const std::int64_t got =
        reader.Volume->ReadAt(reader.Position + done, ABuffer + done, static_cast<std::int64_t>(ASize) - done);
    if (got < 0)
      return -1;
    if (got == 0)
      break;
    done += got;
  }
  reader.Position += done;
  return static_cast<ssize_t>(done);
}

ssize_t RefuseWrite(intptr_t* /*AHandle*/, const uint8_t* /*ABuffer*/, size_t /*ASize*/, libbfio_error_t** /*AError*/) {
  return -1;
}

off64_t SeekRaw(intptr_t* AHandle, off64_t AOffset, int AWhence, libbfio_error_t** /*AError*/) {
  TRawVolumeReader& reader = *ReaderOf(AHandle);
  const std::int64_t base = AWhence == SEEK_SET ? 0 : AWhence == SEEK_CUR ? reader.Position : reader.Volume->Size();
  if (AOffset < -base)
    return -1;
  reader.Position = base + AOffset;
  return reader.Position;
}

int RawSize(intptr_t* AHandle, size64_t* ASize, libbfio_error_t** /*AError*/) {
  *ASize = static_cast<size64_t>(ReaderOf(AHandle)->Volume->Size());
  return 1;
}

// The opened shadow copy volume that every snapshot of it reads through;
// the library keeps one position and cache per volume, so reads take turns.
class TShadowVolume {
public:
  TShadowVolume(libvshadow_volume_t* AVolume, libbfio_handle_t* ARaw, IVolumeSourcePtr ASource)
      : FVolume(AVolume), FRaw(ARaw), FSource(std::move(ASource)) {}
  ~TShadowVolume() {
    libvshadow_volume_close(FVolume, nullptr);
    libvshadow_volume_free(&FVolume, nullptr);
    libbfio_handle_free(&FRaw, nullptr);
  }
  TShadowVolume(const TShadowVolume&) = delete;
  TShadowVolume& operator=(const TShadowVolume&) = delete;

  libvshadow_volume_t* Handle() const { return FVolume; }
  const IVolumeSourcePtr& RawSource() const { return FSource; }
  std::mutex& ReadLock() { return FReadLock; }

private:
  libvshadow_volume_t* FVolume;
  libbfio_handle_t* FRaw;
  IVolumeSourcePtr FSource;
  std::mutex FReadLock;
};

// One snapshot's bytes, read through its store.
class TSnapshotSource final : public IVolumeSource {
public:
  TSnapshotSource(std::shared_ptr<TShadowVolume> AVolume, libvshadow_store_t* AStore, std::int64_t ASize)
      : FVolume(std::move(AVolume)), FStore(AStore), FSize(ASize) {}
  ~TSnapshotSource() override { libvshadow_store_free(&FStore, nullptr); }
  TSnapshotSource(const TSnapshotSource&) = delete;
  TSnapshotSource& operator=(const TSnapshotSource&) = delete;

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override {
    if (APos < 0 || ASize < 0)
      return -1;
    if (APos >= FSize)
      return 0;
    const std::lock_guard<std::mutex> lock(FVolume->ReadLock());
    libvshadow_error_t* error = nullptr;
    const ssize_t got = libvshadow_store_read_buffer_at_offset(
        FStore, ADest, static_cast<size_t>(std::min(ASize, FSize - APos)), static_cast<off64_t>(APos), &error);
    libvshadow_error_free(&error);
    return got;
  }
  std::int64_t Size() override { return FSize; }
  std::vector<TSourcePiece> Pieces() const override { return FVolume->RawSource()->Pieces(); }

private:
  std::shared_ptr<TShadowVolume> FVolume;
  libvshadow_store_t* FStore;
  std::int64_t FSize;
};

// The shadow copy volume AVolume holds; nullptr when it holds none, or,
// with AWhy set, when its stores cannot be read.
std::shared_ptr<TShadowVolume> OpenShadowVolume(const IVolumeSourcePtr& AVolume, std::string& AWhy) {
  libbfio_handle_t* raw = nullptr;
  auto* reader = new TRawVolumeReader{AVolume, 0};
  if (libbfio_handle_initialize(&raw, reinterpret_cast<intptr_t*>(reader), FreeReader, CloneReader, OpenReader,
                                CloseReader, ReadRaw, RefuseWrite, SeekRaw, ReaderExists, ReaderIsOpen, RawSize,
                                LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
                                nullptr) != 1) {
    delete reader;
    return nullptr;
  }
  libvshadow_volume_t* volume = nullptr;
  if (libvshadow_volume_initialize(&volume, nullptr) != 1) {
    libbfio_handle_free(&raw, nullptr);
    return nullptr;
  }
  libvshadow_error_t* error = nullptr;
  if (libvshadow_volume_open_file_io_handle(volume, raw, LIBVSHADOW_OPEN_READ, &error) != 1) {
    // A volume without the shadow copy header is the common case, not damage.
    if (libvshadow_check_volume_signature_file_io_handle(raw, nullptr) == 1)
      AWhy = ErrorTextOf(error);
    libvshadow_error_free(&error);
    libvshadow_volume_free(&volume, nullptr);
    libbfio_handle_free(&raw, nullptr);
    return nullptr;
  }
  return std::make_shared<TShadowVolume>(volume, raw, AVolume);
}

// Store AIndex (from 0) as a snapshot; raises nothing, but says in AWhy
// why it cannot be read.
std::optional<TShadowCopy> OpenSnapshot(const std::shared_ptr<TShadowVolume>& AVolume, int AIndex, std::string& AWhy) {
  libvshadow_store_t* store = nullptr;
  libvshadow_error_t* error = nullptr;
  if (libvshadow_volume_get_store(AVolume->Handle(), AIndex, &store, &error) != 1) {
    AWhy = ErrorTextOf(error);
    libvshadow_error_free(&error);
    return std::nullopt;
  }
  size64_t size = 0;
  std::uint64_t created = 0;
  if (libvshadow_store_get_size(store, &size, &error) != 1 ||
      libvshadow_store_get_creation_time(store, &created, &error) != 1) {
    AWhy = ErrorTextOf(error);
    libvshadow_error_free(&error);
    libvshadow_store_free(&store, nullptr);
    return std::nullopt;
  }
  auto source = std::make_shared<TSnapshotSource>(AVolume, store, static_cast<std::int64_t>(size));
  std::array<std::uint8_t, kProbeSize> probe{};
  if (source->ReadAt(0, probe.data(), kProbeSize) != kProbeSize) {
    AWhy = "its first sector cannot be read";
    return std::nullopt;
  }
  return TShadowCopy{AIndex + 1, static_cast<std::int64_t>(created), std::move(source)};
}

} // namespace

TShadowCopies OpenShadowCopies(const IVolumeSourcePtr& AVolume) {
  TShadowCopies copies;
  std::string why;
  const std::shared_ptr<TShadowVolume> volume = OpenShadowVolume(AVolume, why);
  if (!why.empty())
    copies.Skipped.push_back("The shadow copy stores cannot be read and are skipped: " + why);
  if (!volume)
    return copies;
  int count = 0;
  if (libvshadow_volume_get_number_of_stores(volume->Handle(), &count, nullptr) != 1)
    return copies;
  for (int index = 0; index < count; ++index) {
    std::string why;
    if (std::optional<TShadowCopy> snapshot = OpenSnapshot(volume, index, why))
      copies.Snapshots.push_back(std::move(*snapshot));
    else
      copies.Skipped.push_back(SkippedStoreLine(index + 1, why));
  }
  return copies;
}

std::string SkippedStoreLine(std::int32_t AStore, const std::string& AWhy) {
  return "Shadow copy store " + std::to_string(AStore) + " is damaged and is skipped: " + AWhy;
}
