#include "platform/uContainerSource.h"

#include "ntfs/uFSError.h"

#include <libewf.h>
#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

constexpr std::size_t kErrorTextSize = 512;

// The calls of one library, with its handle and error types; each library
// spells the same steps with its own prefix.
template <class THandle, class TError>
struct TLibrary {
  const char* Format;
  int (*CheckSignature)(const char*, TError**);
  // Opens APath into a new handle; false with the error set when it cannot.
  bool (*Open)(const char*, THandle**, TError**);
  ssize_t (*Read)(THandle*, void*, size_t, off64_t, TError**);
  int (*MediaSize)(THandle*, size64_t*, TError**);
  int (*Close)(THandle*, TError**);
  int (*Free)(THandle**, TError**);
  int (*ErrorText)(TError*, char*, size_t);
  void (*ErrorFree)(TError**);
};

template <class THandle, class TError>
class TLibraryContainer final : public IVolumeSource {
public:
  TLibraryContainer(const TLibrary<THandle, TError>& ALibrary, THandle* AHandle, const struct stat& AIdentity)
      : FLibrary(ALibrary), FHandle(AHandle), FIdentity(AIdentity) {
    size64_t size = 0;
    TError* error = nullptr;
    if (FLibrary.MediaSize(FHandle, &size, &error) == 1)
      FSize = static_cast<std::int64_t>(size);
    FLibrary.ErrorFree(&error);
  }
  ~TLibraryContainer() override {
    TError* error = nullptr;
    FLibrary.Close(FHandle, &error);
    FLibrary.Free(&FHandle, &error);
    FLibrary.ErrorFree(&error);
  }
  TLibraryContainer(const TLibraryContainer&) = delete;
  TLibraryContainer& operator=(const TLibraryContainer&) = delete;

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override {
    if (APos < 0 || ASize < 0)
      return -1;
    if (APos >= FSize)
      return 0;
    // The container libraries keep one read position and cache per handle.
    const std::lock_guard<std::mutex> lock(FReadLock);
    TError* error = nullptr;
    const ssize_t got = FLibrary.Read(FHandle, ADest, static_cast<size_t>(std::min(ASize, FSize - APos)),
                                      static_cast<off64_t>(APos), &error);
    FLibrary.ErrorFree(&error);
    return got;
  }
  std::int64_t Size() override { return FSize; }
  const struct stat& UnderlyingFileIdentity() const override { return FIdentity; }

private:
  const TLibrary<THandle, TError>& FLibrary;
  THandle* FHandle;
  struct stat FIdentity;
  std::int64_t FSize = 0;
  std::mutex FReadLock;
};

template <class THandle, class TError>
std::string ErrorTextOf(const TLibrary<THandle, TError>& ALibrary, TError* AError) {
  std::array<char, kErrorTextSize> text{};
  if (AError == nullptr || ALibrary.ErrorText(AError, text.data(), text.size()) < 0)
    return "unknown error";
  return text.data();
}

// The container when the file is in the library's format; nullptr when not.
template <class THandle, class TError>
IVolumeSourcePtr TryOpen(const TLibrary<THandle, TError>& ALibrary, const std::string& APath,
                         const struct stat& AIdentity) {
  TError* error = nullptr;
  const int signature = ALibrary.CheckSignature(APath.c_str(), &error);
  ALibrary.ErrorFree(&error);
  if (signature != 1)
    return nullptr;
  THandle* handle = nullptr;
  if (!ALibrary.Open(APath.c_str(), &handle, &error)) {
    const std::string why = ErrorTextOf(ALibrary, error);
    ALibrary.ErrorFree(&error);
    if (handle != nullptr)
      ALibrary.Free(&handle, &error);
    ALibrary.ErrorFree(&error);
    throw NoDriveException("The " + std::string(ALibrary.Format) + " image \"" + APath + "\" cannot be opened: " +
                           why);
  }
  return std::make_shared<TLibraryContainer<THandle, TError>>(ALibrary, handle, AIdentity);
}

// E01 images come in segment files (.E01, .E02, ...) that are opened together.
bool OpenEwf(const char* APath, libewf_handle_t** AHandle, libewf_error_t** AError) {
  char** segments = nullptr;
  int count = 0;
  if (libewf_glob(APath, std::strlen(APath), LIBEWF_FORMAT_UNKNOWN, &segments, &count, AError) != 1)
    return false;
  const bool opened = libewf_handle_initialize(AHandle, AError) == 1 &&
                      libewf_handle_open(*AHandle, segments, count, LIBEWF_OPEN_READ, AError) == 1;
  libewf_glob_free(segments, count, nullptr);
  return opened;
}

bool OpenVhdi(const char* APath, libvhdi_file_t** AHandle, libvhdi_error_t** AError) {
  return libvhdi_file_initialize(AHandle, AError) == 1 &&
         libvhdi_file_open(*AHandle, APath, LIBVHDI_OPEN_READ, AError) == 1;
}

// A VMDK's descriptor names extent files, opened as a second step.
bool OpenVmdk(const char* APath, libvmdk_handle_t** AHandle, libvmdk_error_t** AError) {
  return libvmdk_handle_initialize(AHandle, AError) == 1 &&
         libvmdk_handle_open(*AHandle, APath, LIBVMDK_OPEN_READ, AError) == 1 &&
         libvmdk_handle_open_extent_data_files(*AHandle, AError) == 1;
}

bool OpenQcow(const char* APath, libqcow_file_t** AHandle, libqcow_error_t** AError) {
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
                                                    .ErrorFree = libewf_error_free};
const TLibrary<libvhdi_file_t, libvhdi_error_t> kVhdi{.Format = "VHD",
                                                      .CheckSignature = libvhdi_check_file_signature,
                                                      .Open = OpenVhdi,
                                                      .Read = libvhdi_file_read_buffer_at_offset,
                                                      .MediaSize = libvhdi_file_get_media_size,
                                                      .Close = libvhdi_file_close,
                                                      .Free = libvhdi_file_free,
                                                      .ErrorText = libvhdi_error_sprint,
                                                      .ErrorFree = libvhdi_error_free};
const TLibrary<libvmdk_handle_t, libvmdk_error_t> kVmdk{.Format = "VMDK",
                                                        .CheckSignature = libvmdk_check_file_signature,
                                                        .Open = OpenVmdk,
                                                        .Read = libvmdk_handle_read_buffer_at_offset,
                                                        .MediaSize = libvmdk_handle_get_media_size,
                                                        .Close = libvmdk_handle_close,
                                                        .Free = libvmdk_handle_free,
                                                        .ErrorText = libvmdk_error_sprint,
                                                        .ErrorFree = libvmdk_error_free};
const TLibrary<libqcow_file_t, libqcow_error_t> kQcow{.Format = "QCOW",
                                                      .CheckSignature = libqcow_check_file_signature,
                                                      .Open = OpenQcow,
                                                      .Read = libqcow_file_read_buffer_at_offset,
                                                      .MediaSize = libqcow_file_get_media_size,
                                                      .Close = libqcow_file_close,
                                                      .Free = libqcow_file_free,
                                                      .ErrorText = libqcow_error_sprint,
                                                      .ErrorFree = libqcow_error_free};

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
  return TryOpen(kQcow, APath, identity);
}
