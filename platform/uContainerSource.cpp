#include "platform/uContainerSource.h"

#include "ntfs/uFSError.h"
#include "platform/uContainerDamage.h"

#include <libbfio.h>
#include <libewf.h>
#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kErrorTextSize = 512;

// The calls of one library, with its handle and error types; each library
// spells the same steps with its own prefix.
template <class THandle, class TError>
struct TLibrary {
  const char* Format;
  int (*CheckSignature)(const char*, TError**);
  // Opens APath into a new handle; false with the error set when it cannot.
  // What the handle reads through, when it is not the library's own, is
  // handed back to live as long as the handle.
  bool (*Open)(const char*, THandle**, TError**, std::shared_ptr<void>&);
  ssize_t (*Read)(THandle*, void*, size_t, off64_t, TError**);
  int (*MediaSize)(THandle*, size64_t*, TError**);
  int (*Close)(THandle*, TError**);
  int (*Free)(THandle**, TError**);
  int (*ErrorText)(TError*, char*, size_t);
  void (*ErrorFree)(TError**);
  // The files besides APath that the opened handle reads: segments, extents.
  std::vector<std::string> (*MoreFiles)(const char* APath, THandle*);
  // The image a differencing image holds only the changes to; empty for a
  // whole image.
  std::string (*ParentOf)(THandle*);
  // The disk bytes the opened container is known not to hold: a file cut
  // short, segments missing, sectors the acquisition could not read.
  std::vector<TByteRange> (*DamageAtOpen)(const std::string& APath, THandle*, std::int64_t AMediaSize);
  // Adds the disk bytes that reads so far found damaged; null where the
  // library reports damage only as a failed read.
  void (*NoteDamageFound)(THandle*, TDamageMap& ADamage);
};

template <class THandle, class TError>
std::int64_t MediaSizeOf(const TLibrary<THandle, TError>& ALibrary, THandle* AHandle) {
  size64_t size = 0;
  TError* error = nullptr;
  const bool known = ALibrary.MediaSize(AHandle, &size, &error) == 1;
  ALibrary.ErrorFree(&error);
  return known ? static_cast<std::int64_t>(size) : 0;
}

template <class THandle, class TError>
void FreeHandle(const TLibrary<THandle, TError>& ALibrary, THandle* AHandle) {
  TError* error = nullptr;
  ALibrary.Close(AHandle, &error);
  ALibrary.Free(&AHandle, &error);
  ALibrary.ErrorFree(&error);
}

// Bytes the container is known not to hold read as a bad sector does: the
// read stops before them, and one that starts in them fails. Libraries hand
// out zeros for some of these (a chunk whose checksum fails, a segment
// that is missing), which must never pass for the disk's bytes.
template <class THandle, class TError>
class TLibraryContainer final : public IVolumeSource {
public:
  TLibraryContainer(const TLibrary<THandle, TError>& ALibrary, THandle* AHandle, std::shared_ptr<void> AReadThrough,
                    const std::string& APath, std::vector<TSourcePiece> APieces)
      : FLibrary(ALibrary), FReadThrough(std::move(AReadThrough)), FHandle(AHandle), FPieces(std::move(APieces)),
        FSize(MediaSizeOf(ALibrary, AHandle)) {
    for (const TByteRange& range : FLibrary.DamageAtOpen(APath, FHandle, FSize))
      FDamage.Add(range);
    NoteDamageFound();
  }
  ~TLibraryContainer() override { FreeHandle(FLibrary, FHandle); }
  TLibraryContainer(const TLibraryContainer&) = delete;
  TLibraryContainer& operator=(const TLibraryContainer&) = delete;

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override {
    if (APos < 0 || ASize < 0)
      return -1;
    if (APos >= FSize)
      return 0;
    // The container libraries keep one read position and cache per handle.
    const std::lock_guard<std::mutex> lock(FReadLock);
    const std::int64_t wanted = FDamage.UndamagedFrom(APos, std::min(ASize, FSize - APos));
    if (wanted == 0)
      return -1;
    TError* error = nullptr;
    const ssize_t got = FLibrary.Read(FHandle, ADest, static_cast<size_t>(wanted), static_cast<off64_t>(APos), &error);
    FLibrary.ErrorFree(&error);
    if (got <= 0)
      return got;
    NoteDamageFound();
    const std::int64_t delivered = FDamage.UndamagedFrom(APos, got);
    return delivered > 0 ? delivered : -1;
  }
  std::int64_t Size() override { return FSize; }
  std::vector<TSourcePiece> Pieces() const override { return FPieces; }
  // What the container was known not to hold when it was opened, and the
  // damage reads have found since.
  std::vector<TByteRange> KnownUnreadable() const override {
    const std::lock_guard<std::mutex> lock(FReadLock);
    return FDamage.Ranges();
  }

private:
  void NoteDamageFound() {
    if (FLibrary.NoteDamageFound != nullptr)
      FLibrary.NoteDamageFound(FHandle, FDamage);
  }

  const TLibrary<THandle, TError>& FLibrary;
  // Freed after the handle, in the destructor's body, is closed.
  std::shared_ptr<void> FReadThrough;
  THandle* FHandle;
  std::vector<TSourcePiece> FPieces;
  std::int64_t FSize = 0;
  TDamageMap FDamage;
  mutable std::mutex FReadLock;
};

template <class THandle, class TError>
std::string ErrorTextOf(const TLibrary<THandle, TError>& ALibrary, TError* AError) {
  std::array<char, kErrorTextSize> text{};
  if (AError == nullptr || ALibrary.ErrorText(AError, text.data(), text.size()) < 0)
    return "unknown error";
  return text.data();
}

// The file at APath and the further files the handle reads; a file that
// cannot be looked at is named all the same, with no identity to match.
template <class THandle, class TError>
std::vector<TSourcePiece> PiecesOf(const TLibrary<THandle, TError>& ALibrary, const std::string& APath,
                                   const struct stat& AIdentity, THandle* AHandle) {
  std::vector<TSourcePiece> pieces{{APath, AIdentity}};
  for (const std::string& file : ALibrary.MoreFiles(APath.c_str(), AHandle)) {
    TSourcePiece piece{file, {}};
    if (stat(file.c_str(), &piece.Identity) == 0 &&
        std::none_of(pieces.begin(), pieces.end(), [&piece](const TSourcePiece& AKnown) {
          return AKnown.Identity.st_dev == piece.Identity.st_dev && AKnown.Identity.st_ino == piece.Identity.st_ino;
        }))
      pieces.push_back(std::move(piece));
  }
  return pieces;
}

// The container when the file is in the library's format; nullptr when not.
// A differencing image is refused: its parent holds most of the disk, and
// reading it would bring another file into what must never be written.
template <class THandle, class TError>
IVolumeSourcePtr TryOpen(const TLibrary<THandle, TError>& ALibrary, const std::string& APath,
                         const struct stat& AIdentity) {
  TError* error = nullptr;
  const int signature = ALibrary.CheckSignature(APath.c_str(), &error);
  ALibrary.ErrorFree(&error);
  if (signature != 1)
    return nullptr;
  THandle* handle = nullptr;
  std::shared_ptr<void> readThrough;
  if (!ALibrary.Open(APath.c_str(), &handle, &error, readThrough)) {
    const std::string why = ErrorTextOf(ALibrary, error);
    ALibrary.ErrorFree(&error);
    if (handle != nullptr)
      ALibrary.Free(&handle, &error);
    ALibrary.ErrorFree(&error);
    throw NoDriveException("The " + std::string(ALibrary.Format) + " image \"" + APath + "\" cannot be opened: " +
                           why);
  }
  if (const std::string parent = ALibrary.ParentOf(handle); !parent.empty()) {
    FreeHandle(ALibrary, handle);
    throw NoDriveException("The " + std::string(ALibrary.Format) + " image \"" + APath +
                           "\" holds only the changes to its parent image \"" + parent +
                           "\": open the parent, or a copy merged with it (qemu-img convert).");
  }
  return std::make_shared<TLibraryContainer<THandle, TError>>(ALibrary, handle, std::move(readThrough), APath,
                                                              PiecesOf(ALibrary, APath, AIdentity, handle));
}

// A text the library writes into a buffer it gives the size of first.
template <class THandle, class TError>
std::string LibraryText(THandle* AHandle, int (*ASize)(THandle*, size_t*, TError**),
                        int (*AText)(THandle*, std::uint8_t*, size_t, TError**), void (*AErrorFree)(TError**)) {
  TError* error = nullptr;
  size_t size = 0;
  std::string text;
  if (ASize(AHandle, &size, &error) == 1 && size > 1) {
    std::vector<std::uint8_t> buffer(size);
    if (AText(AHandle, buffer.data(), size, &error) == 1)
      text.assign(reinterpret_cast<const char*>(buffer.data()), strnlen(reinterpret_cast<const char*>(buffer.data()), size));
  }
  AErrorFree(&error);
  return text;
}


// The segment files (.E01, .E02, ...) of the E01 image at APath. The
// segments are found by their names; an image renamed to another extension
// (it is known by its signature) is read as the one file it is.
std::vector<std::string> EwfSegments(const char* APath, libewf_handle_t*) {
  char** segments = nullptr;
  int count = 0;
  std::vector<std::string> files;
  if (libewf_glob(APath, std::strlen(APath), LIBEWF_FORMAT_UNKNOWN, &segments, &count, nullptr) == 1)
    files.assign(segments, segments + count);
  libewf_glob_free(segments, count, nullptr);
  if (files.empty())
    files.emplace_back(APath);
  return files;
}

// The sectors of an E01 image listed as (first sector, count) by one of
// libewf's lists: the chunks whose checksum failed, the sectors the
// acquisition could not read.
using TEwfSectorList = int (*)(libewf_handle_t*, std::uint32_t, std::uint64_t*, std::uint64_t*, libewf_error_t**);
using TEwfSectorCount = int (*)(libewf_handle_t*, std::uint32_t*, libewf_error_t**);

void NoteEwfSectors(libewf_handle_t* AHandle, TEwfSectorCount ACount, TEwfSectorList AList, TDamageMap& ADamage) {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t count = 0;
  if (libewf_handle_get_bytes_per_sector(AHandle, &bytesPerSector, nullptr) != 1 ||
      ACount(AHandle, &count, nullptr) != 1)
    return;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint64_t first = 0;
    std::uint64_t sectors = 0;
    if (AList(AHandle, i, &first, &sectors, nullptr) == 1)
      ADamage.Add({static_cast<std::int64_t>(first * bytesPerSector),
                   static_cast<std::int64_t>(sectors * bytesPerSector)});
  }
}

// libewf hands out a chunk whose checksum fails as it is (or as zeros for a
// chunk in a missing segment) and lists it among the checksum errors.
void NoteEwfChecksumErrors(libewf_handle_t* AHandle, TDamageMap& ADamage) {
  NoteEwfSectors(AHandle, libewf_handle_get_number_of_checksum_errors, libewf_handle_get_checksum_error, ADamage);
}

// Whether the chunk at AOffset is damaged: reading it lists it if so.
bool EwfChunkDamaged(libewf_handle_t* AHandle, std::int64_t AOffset) {
  std::uint8_t byte = 0;
  libewf_handle_read_random(AHandle, &byte, 1, static_cast<off64_t>(AOffset), nullptr);
  TDamageMap found;
  NoteEwfChecksumErrors(AHandle, found);
  return found.UndamagedFrom(AOffset, 1) == 0;
}

// The chunks of the segment files that are missing: segments are filled in
// order, so they are the chunks from the first one that is missing on. It
// is found by halving, one chunk read at each step.
std::vector<TByteRange> EwfMissingChunks(libewf_handle_t* AHandle, std::int64_t AMediaSize) {
  std::uint32_t sectorsPerChunk = 0;
  std::uint32_t bytesPerSector = 0;
  if (libewf_handle_segment_files_corrupted(AHandle, nullptr) != 1 ||
      libewf_handle_get_sectors_per_chunk(AHandle, &sectorsPerChunk, nullptr) != 1 ||
      libewf_handle_get_bytes_per_sector(AHandle, &bytesPerSector, nullptr) != 1 || AMediaSize <= 0)
    return {};
  const std::int64_t chunkSize = std::int64_t{sectorsPerChunk} * bytesPerSector;
  if (chunkSize <= 0)
    return {};
  const std::int64_t chunks = (AMediaSize + chunkSize - 1) / chunkSize;
  if (!EwfChunkDamaged(AHandle, (chunks - 1) * chunkSize))
    return {};
  std::int64_t held = -1; // the last chunk known to be there
  std::int64_t missing = chunks - 1;
  while (missing - held > 1) {
    const std::int64_t middle = held + (missing - held) / 2;
    (EwfChunkDamaged(AHandle, middle * chunkSize) ? missing : held) = middle;
  }
  return {{missing * chunkSize, AMediaSize - missing * chunkSize}};
}

std::vector<TByteRange> EwfDamageAtOpen(const std::string&, libewf_handle_t* AHandle, std::int64_t AMediaSize) {
  TDamageMap damage;
  for (const TByteRange& range : EwfMissingChunks(AHandle, AMediaSize))
    damage.Add(range);
  NoteEwfSectors(AHandle, libewf_handle_get_number_of_acquiry_errors, libewf_handle_get_acquiry_error, damage);
  return damage.Ranges();
}

// Every further file a container names must be a file or a disk: opening a
// named pipe there would wait for a writer for ever.
void RequireFiles(const std::string& AFormat, const char* APath, const std::vector<std::string>& AFiles) {
  for (const std::string& file : AFiles) {
    struct stat info {};
    if (stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
      throw NoDriveException("The " + AFormat + " image \"" + std::string(APath) + "\" reads \"" + file +
                             "\", which is neither a file nor a disk.");
  }
}

// E01 images come in segment files that are opened together.
bool OpenEwf(const char* APath, libewf_handle_t** AHandle, libewf_error_t** AError, std::shared_ptr<void>&) {
  const std::vector<std::string> segments = EwfSegments(APath, nullptr);
  RequireFiles("E01", APath, segments);
  std::vector<char*> names;
  for (const std::string& segment : segments)
    names.push_back(const_cast<char*>(segment.c_str()));
  return !names.empty() && libewf_handle_initialize(AHandle, AError) == 1 &&
         libewf_handle_open(*AHandle, names.data(), static_cast<int>(names.size()), LIBEWF_OPEN_READ, AError) == 1;
}

bool OpenVhdi(const char* APath, libvhdi_file_t** AHandle, libvhdi_error_t** AError, std::shared_ptr<void>&) {
  return libvhdi_file_initialize(AHandle, AError) == 1 &&
         libvhdi_file_open(*AHandle, APath, LIBVHDI_OPEN_READ, AError) == 1;
}

// A single-file VMDK starts with its sparse extent's header and holds its
// descriptor inside; the descriptor's one extent is the file itself,
// whatever the file is called now.
bool IsSingleFileVmdk(const char* APath, libvmdk_handle_t* AHandle) {
  constexpr std::string_view kSparseMagic = "KDMV";
  std::array<char, kSparseMagic.size()> start{};
  std::ifstream in(APath, std::ios::binary);
  int count = 0;
  return in.read(start.data(), start.size()) && std::string_view(start.data(), start.size()) == kSparseMagic &&
         libvmdk_handle_get_number_of_extents(AHandle, &count, nullptr) == 1 && count == 1;
}

// Extent files are named relative to the descriptor's folder.
std::vector<std::string> VmdkExtents(const char* APath, libvmdk_handle_t* AHandle) {
  std::vector<std::string> files;
  if (IsSingleFileVmdk(APath, AHandle))
    return files;
  int count = 0;
  if (libvmdk_handle_get_number_of_extents(AHandle, &count, nullptr) != 1)
    return files;
  for (int i = 0; i < count; ++i) {
    libvmdk_extent_descriptor_t* extent = nullptr;
    if (libvmdk_handle_get_extent_descriptor(AHandle, i, &extent, nullptr) != 1)
      continue;
    const std::string name =
        LibraryText(extent, libvmdk_extent_descriptor_get_utf8_filename_size,
                    libvmdk_extent_descriptor_get_utf8_filename, libvmdk_error_free);
    libvmdk_extent_descriptor_free(&extent, nullptr);
    if (!name.empty())
      files.push_back((fs::path(APath).parent_path() / name).lexically_normal().string());
  }
  return files;
}

// The grains of the sparse extents that their files, cut short, no longer
// hold. Extents follow each other on the disk in the descriptor's order; an
// extent the library names no file for leaves the files unmatched, and
// nothing is said.
std::vector<TByteRange> VmdkDamageAtOpen(const std::string& APath, libvmdk_handle_t* AHandle, std::int64_t) {
  const std::vector<std::string> files = IsSingleFileVmdk(APath.c_str(), AHandle)
                                             ? std::vector<std::string>{APath}
                                             : VmdkExtents(APath.c_str(), AHandle);
  int count = 0;
  std::vector<TByteRange> damage;
  if (libvmdk_handle_get_number_of_extents(AHandle, &count, nullptr) != 1 || count != static_cast<int>(files.size()))
    return damage;
  std::int64_t diskOffset = 0;
  for (int i = 0; i < count; ++i) {
    libvmdk_extent_descriptor_t* extent = nullptr;
    int type = 0;
    off64_t fileOffset = 0;
    size64_t size = 0;
    const bool known = libvmdk_handle_get_extent_descriptor(AHandle, i, &extent, nullptr) == 1 &&
                       libvmdk_extent_descriptor_get_type(extent, &type, nullptr) == 1 &&
                       libvmdk_extent_descriptor_get_range(extent, &fileOffset, &size, nullptr) == 1;
    libvmdk_extent_descriptor_free(&extent, nullptr);
    if (!known)
      return damage;
    if (type == LIBVMDK_EXTENT_TYPE_SPARSE)
      for (const TByteRange& range :
           VmdkGrainsPastEnd(files[static_cast<std::size_t>(i)], diskOffset, static_cast<std::int64_t>(size)))
        damage.push_back(range);
    diskOffset += static_cast<std::int64_t>(size);
  }
  return damage;
}

// A pool of one file: APath read as the extent of a single-file VMDK,
// instead of the file its descriptor names, which may be another disk
// since the image was renamed.
std::shared_ptr<void> ExtentPoolOfItself(const char* APath) {
  libbfio_pool_t* pool = nullptr;
  libbfio_handle_t* file = nullptr;
  int entry = 0;
  if (libbfio_pool_initialize(&pool, 0, LIBBFIO_POOL_UNLIMITED_NUMBER_OF_OPEN_HANDLES, nullptr) != 1)
    return nullptr;
  std::shared_ptr<void> owned(pool, [](void* APool) {
    auto* freed = static_cast<libbfio_pool_t*>(APool);
    libbfio_pool_free(&freed, nullptr);
  });
  if (libbfio_file_initialize(&file, nullptr) != 1)
    return nullptr;
  // The pool owns the file handle once it holds it.
  if (libbfio_file_set_name(file, APath, std::strlen(APath), nullptr) != 1 ||
      libbfio_pool_append_handle(pool, &entry, file, LIBBFIO_OPEN_READ, nullptr) != 1) {
    libbfio_handle_free(&file, nullptr);
    return nullptr;
  }
  return owned;
}

// A VMDK's descriptor names extent files, opened as a second step.
bool OpenVmdk(const char* APath, libvmdk_handle_t** AHandle, libvmdk_error_t** AError,
              std::shared_ptr<void>& AReadThrough) {
  if (libvmdk_handle_initialize(AHandle, AError) != 1 ||
      libvmdk_handle_open(*AHandle, APath, LIBVMDK_OPEN_READ, AError) != 1)
    return false;
  try {
    RequireFiles("VMDK", APath, VmdkExtents(APath, *AHandle));
  } catch (const NoDriveException&) {
    libvmdk_handle_close(*AHandle, nullptr);
    libvmdk_handle_free(AHandle, nullptr);
    throw;
  }
  if (!IsSingleFileVmdk(APath, *AHandle))
    return libvmdk_handle_open_extent_data_files(*AHandle, AError) == 1;
  AReadThrough = ExtentPoolOfItself(APath);
  return AReadThrough != nullptr &&
         libvmdk_handle_open_extent_data_files_file_io_pool(
             *AHandle, static_cast<libbfio_pool_t*>(AReadThrough.get()), AError) == 1;
}

std::string VhdiParent(libvhdi_file_t* AHandle) {
  std::uint32_t type = 0;
  if (libvhdi_file_get_disk_type(AHandle, &type, nullptr) != 1 || type != LIBVHDI_DISK_TYPE_DIFFERENTIAL)
    return {};
  const std::string parent = LibraryText(AHandle, libvhdi_file_get_utf8_parent_filename_size,
                                         libvhdi_file_get_utf8_parent_filename, libvhdi_error_free);
  return parent.empty() ? "(not named)" : parent;
}

std::string VmdkParent(libvmdk_handle_t* AHandle) {
  return LibraryText(AHandle, libvmdk_handle_get_utf8_parent_filename_size, libvmdk_handle_get_utf8_parent_filename,
                     libvmdk_error_free);
}

std::string QcowBackingFile(libqcow_file_t* AHandle) {
  return LibraryText(AHandle, libqcow_file_get_utf8_backing_filename_size, libqcow_file_get_utf8_backing_filename,
                     libqcow_error_free);
}

bool OpenQcow(const char* APath, libqcow_file_t** AHandle, libqcow_error_t** AError, std::shared_ptr<void>&) {
  return libqcow_file_initialize(AHandle, AError) == 1 &&
         libqcow_file_open(*AHandle, APath, LIBQCOW_OPEN_READ, AError) == 1;
}

const TLibrary<libewf_handle_t, libewf_error_t> kEwf{.Format = "E01",
                                                    .CheckSignature = libewf_check_file_signature,
                                                    .Open = OpenEwf,
                                                    .Read = libewf_handle_read_random,
                                                    .MediaSize = libewf_handle_get_media_size,
                                                    .Close = libewf_handle_close,
                                                    .Free = libewf_handle_free,
                                                    .ErrorText = libewf_error_sprint,
                                                    .ErrorFree = libewf_error_free,
                                                    .MoreFiles = EwfSegments,
                                                    .ParentOf = [](libewf_handle_t*) { return std::string(); },
                                                    .DamageAtOpen = EwfDamageAtOpen,
                                                    .NoteDamageFound = NoteEwfChecksumErrors};
const TLibrary<libvhdi_file_t, libvhdi_error_t> kVhdi{.Format = "VHD",
                                                      .CheckSignature = libvhdi_check_file_signature,
                                                      .Open = OpenVhdi,
                                                      .Read = libvhdi_file_read_buffer_at_offset,
                                                      .MediaSize = libvhdi_file_get_media_size,
                                                      .Close = libvhdi_file_close,
                                                      .Free = libvhdi_file_free,
                                                      .ErrorText = libvhdi_error_sprint,
                                                      .ErrorFree = libvhdi_error_free,
                                                      .MoreFiles = [](const char*, libvhdi_file_t*) {
                                                        return std::vector<std::string>();
                                                      },
                                                      .ParentOf = VhdiParent,
                                                      .DamageAtOpen = [](const std::string& APath, libvhdi_file_t*,
                                                                         std::int64_t AMediaSize) {
                                                        return VhdxBlocksPastEnd(APath, AMediaSize);
                                                      },
                                                      .NoteDamageFound = nullptr};
const TLibrary<libvmdk_handle_t, libvmdk_error_t> kVmdk{.Format = "VMDK",
                                                        .CheckSignature = libvmdk_check_file_signature,
                                                        .Open = OpenVmdk,
                                                        .Read = libvmdk_handle_read_buffer_at_offset,
                                                        .MediaSize = libvmdk_handle_get_media_size,
                                                        .Close = libvmdk_handle_close,
                                                        .Free = libvmdk_handle_free,
                                                        .ErrorText = libvmdk_error_sprint,
                                                        .ErrorFree = libvmdk_error_free,
                                                        .MoreFiles = VmdkExtents,
                                                        .ParentOf = VmdkParent,
                                                        .DamageAtOpen = VmdkDamageAtOpen,
                                                        .NoteDamageFound = nullptr};
const TLibrary<libqcow_file_t, libqcow_error_t> kQcow{.Format = "QCOW",
                                                      .CheckSignature = libqcow_check_file_signature,
                                                      .Open = OpenQcow,
                                                      .Read = libqcow_file_read_buffer_at_offset,
                                                      .MediaSize = libqcow_file_get_media_size,
                                                      .Close = libqcow_file_close,
                                                      .Free = libqcow_file_free,
                                                      .ErrorText = libqcow_error_sprint,
                                                      .ErrorFree = libqcow_error_free,
                                                      .MoreFiles = [](const char*, libqcow_file_t*) {
                                                        return std::vector<std::string>();
                                                      },
                                                      .ParentOf = QcowBackingFile,
                                                      .DamageAtOpen = [](const std::string& APath, libqcow_file_t*,
                                                                         std::int64_t AMediaSize) {
                                                        return QcowClustersPastEnd(APath, AMediaSize);
                                                      },
                                                      .NoteDamageFound = nullptr};

// A dynamic VHD starts with a copy of the footer that ends a whole one.
bool StartsWithVhdFooterCopy(const std::string& APath) {
  constexpr std::string_view kCookie = "conectix";
  std::array<char, kCookie.size()> start{};
  std::ifstream in(APath, std::ios::binary);
  return in.read(start.data(), start.size()) && std::string_view(start.data(), start.size()) == kCookie;
}

} // namespace

IVolumeSourcePtr OpenContainer(const std::string& APath) {
  struct stat identity {};
  if (stat(APath.c_str(), &identity) != 0 || !S_ISREG(identity.st_mode))
    return nullptr;
  if (IVolumeSourcePtr source = TryOpen(kEwf, APath, identity))
    return source;
  if (IVolumeSourcePtr source = TryOpen(kVhdi, APath, identity))
    return source;
  if (IVolumeSourcePtr source = TryOpen(kVmdk, APath, identity))
    return source;
  if (IVolumeSourcePtr source = TryOpen(kQcow, APath, identity))
    return source;
  if (StartsWithVhdFooterCopy(APath))
    throw NoDriveException("The VHD image \"" + APath +
                           "\" cannot be opened: its footer, the last 512 bytes of the file, is missing or damaged.");
  return nullptr;
}
