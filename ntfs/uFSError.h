#pragma once

#include <stdexcept>
#include <string>

// Errors of the NTFS layer. Each carries only its message.
class FSError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
  ~FSError() override;
};

class CustomDriveException : public FSError {
public:
  using FSError::FSError;
  ~CustomDriveException() override;
};

// The volume's device or image could not be opened; the message says why
// where the cause is known.
class NoDriveException : public CustomDriveException {
public:
  static constexpr const char* kMessage = "Drive is not available.";
  NoDriveException() : CustomDriveException(kMessage) {}
  explicit NoDriveException(const std::string& AWhy) : CustomDriveException(AWhy) {}
  ~NoDriveException() override;
};

// The process may not read the device or image; the message says what to
// do about it. Someone with the right (udisks2 for a desktop user) may
// still open a block device for the process.
class AccessDeniedException : public NoDriveException {
public:
  AccessDeniedException(const std::string& AWhy, std::string APath, bool AIsBlockDevice)
      : NoDriveException(AWhy), FPath(std::move(APath)), FIsBlockDevice(AIsBlockDevice) {}
  ~AccessDeniedException() override;

  const std::string& Path() const { return FPath; }
  bool IsBlockDevice() const { return FIsBlockDevice; }

private:
  std::string FPath;
  bool FIsBlockDevice;
};

// The compressed form of an attribute's data cannot be expanded: a chunk
// that runs past its compression unit, a back-reference before the start
// of its chunk, or a unit layout no writer makes.
class CompressedDataException : public FSError {
public:
  using FSError::FSError;
  ~CompressedDataException() override;
};
