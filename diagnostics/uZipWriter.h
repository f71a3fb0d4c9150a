#pragma once

#include <stdexcept>

#include <QString>

struct zip;

// Hears how far the compression of each file has come and may stop it.
class IZipWriterProgress {
public:
  virtual ~IZipWriterProgress() = default;
  // APercent runs from 0 to 100 for each file, as its data is compressed.
  virtual void FileProgress(const QString& AFileName, int APercent) = 0;
  virtual bool IsCanceled() = 0;
};

class EZipError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Case-insensitive match of a file name against a mask of "*" (any run of
// characters) and "?" (one character); every other character stands for
// itself, "[" included.
bool MatchesFileMask(const QString& AName, const QString& AMask);

// Writes one standard zip archive with the library's default compression.
// Files are only noted while the archive is open; their data is read and
// compressed by Close, which replaces any earlier file of the archive's name.
class TZipWriter {
public:
  explicit TZipWriter(IZipWriterProgress& AProgress);
  // An archive still open here was interrupted: it is discarded.
  ~TZipWriter();
  TZipWriter(const TZipWriter&) = delete;
  TZipWriter& operator=(const TZipWriter&) = delete;

  // Opens AFileName in create mode.
  void Create(const QString& AFileName);
  bool IsOpen() const { return FArchive != nullptr; }

  // Notes every file directly in ABaseFolder whose name matches AMask, hidden
  // and read-only ones included, stored under its name relative to the
  // folder; a name added twice keeps the later file. Returns how many matched.
  int AddFiles(const QString& ABaseFolder, const QString& AMask);

  // Compresses the noted files and writes the archive; an archive without
  // entries is not written at all (an earlier file of its name is removed).
  // When a file cannot be read or the progress cancels, nothing is written,
  // the archive stays open and EZipError says why.
  void Close();

  // Closes without writing and deletes the archive file if one exists, so
  // that no earlier archive of that name passes for the interrupted one.
  void Discard();

private:
  struct TFileSource;
  void AddFile(const QString& APath, const QString& AEntryName);

  IZipWriterProgress& FProgress;
  zip* FArchive = nullptr;
  QString FFileName;
  // Why the last file source failed, for the message of Close.
  QString FSourceFailure;
};
