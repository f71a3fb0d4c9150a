#include "diagnostics/uZipWriter.h"

#include <zip.h>

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

bool MatchesFileMask(const QString& AName, const QString& AMask) {
  const QString Name = AName.toCaseFolded();
  const QString Mask = AMask.toCaseFolded();
  qsizetype n = 0, m = 0;
  // Where the last "*" was seen and the name position it is tried from.
  qsizetype StarMask = -1, StarName = 0;
  while (n < Name.size()) {
    if (m < Mask.size() && (Mask[m] == u'?' || Mask[m] == Name[n])) {
      ++n;
      ++m;
    } else if (m < Mask.size() && Mask[m] == u'*') {
      StarMask = m++;
      StarName = n;
    } else if (StarMask >= 0) {
      m = StarMask + 1;
      n = ++StarName;
    } else {
      return false;
    }
  }
  while (m < Mask.size() && Mask[m] == u'*')
    ++m;
  return m == Mask.size();
}

// The data of one file as the library reads it while the archive is
// written: reports its progress and answers the cancel question per block.
struct TZipWriter::TFileSource {
  TZipWriter& Writer;
  QString Path;
  QString EntryName;
  QFile File;
  qint64 Size = 0;
  qint64 Done = 0;
  int LastPercent = -1;
  zip_error_t Error{};

  TFileSource(TZipWriter& AWriter, const QString& APath, const QString& AEntryName)
      : Writer(AWriter), Path(APath), EntryName(AEntryName), File(APath) {
    zip_error_init(&Error);
  }
  ~TFileSource() { zip_error_fini(&Error); }

  static zip_int64_t Callback(void* AState, void* AData, zip_uint64_t ALength, zip_source_cmd_t ACommand) {
    auto* Source = static_cast<TFileSource*>(AState);
    // A progress listener's exception must not unwind through the library's
    // C frames; it fails the write like any other source error.
    try {
      return Source->Handle(AData, ALength, ACommand);
    } catch (const std::exception& E) {
      return Source->Fail(ZIP_ER_INTERNAL, QString::fromUtf8(E.what()));
    }
  }

  zip_int64_t Fail(int AZipError, const QString& AWhy) {
    zip_error_set(&Error, AZipError, 0);
    Writer.FSourceFailure = AWhy;
    return -1;
  }

  void Report() {
    // A file that grew since it was measured still ends at 100.
    const int Percent = Size > 0 ? static_cast<int>(std::min(Done, Size) * 100 / Size) : 100;
    if (Percent != LastPercent) {
      LastPercent = Percent;
      Writer.FProgress.FileProgress(EntryName, Percent);
    }
  }

  zip_int64_t Handle(void* AData, zip_uint64_t ALength, zip_source_cmd_t ACommand) {
    const bool Reading = ACommand == ZIP_SOURCE_OPEN || ACommand == ZIP_SOURCE_READ;
    if (Reading && Writer.FProgress.IsCanceled())
      return Fail(ZIP_ER_CANCELLED, QStringLiteral("canceled by the user"));
    switch (ACommand) {
      case ZIP_SOURCE_OPEN:
        if (!File.open(QIODevice::ReadOnly))
          return Fail(ZIP_ER_OPEN, QStringLiteral("cannot open %1: %2").arg(Path, File.errorString()));
        Size = File.size();
        Done = 0;
        LastPercent = 0;
        Writer.FProgress.FileProgress(EntryName, 0);
        return 0;
      case ZIP_SOURCE_READ: {
        const qint64 Got = File.read(static_cast<char*>(AData), static_cast<qint64>(ALength));
        if (Got < 0)
          return Fail(ZIP_ER_READ, QStringLiteral("cannot read %1: %2").arg(Path, File.errorString()));
        Done += Got;
        if (Got == 0)
          Done = Size;
        Report();
        return Got;
      }
      case ZIP_SOURCE_CLOSE:
        File.close();
        return 0;
      case ZIP_SOURCE_STAT: {
        zip_stat_t* Stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, AData, ALength, &Error);
        if (Stat == nullptr)
          return -1;
        const QFileInfo Info(Path);
        if (!Info.exists())
          return Fail(ZIP_ER_NOENT, QStringLiteral("%1 has vanished").arg(Path));
        zip_stat_init(Stat);
        Stat->size = static_cast<zip_uint64_t>(Info.size());
        Stat->mtime = static_cast<time_t>(Info.lastModified().toSecsSinceEpoch());
        Stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&Error, AData, ALength);
      case ZIP_SOURCE_FREE:
        delete this;
        return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
      default:
        zip_error_set(&Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }
};

TZipWriter::TZipWriter(IZipWriterProgress& AProgress) : FProgress(AProgress) {}

TZipWriter::~TZipWriter() { Discard(); }

void TZipWriter::Create(const QString& AFileName) {
  if (IsOpen())
    throw EZipError("The archive " + FFileName.toStdString() + " is still open");
  int Error = 0;
  FArchive = zip_open(QFile::encodeName(AFileName).constData(), ZIP_CREATE | ZIP_TRUNCATE, &Error);
  if (FArchive == nullptr) {
    zip_error_t Reason;
    zip_error_init_with_code(&Reason, Error);
    const std::string Why = zip_error_strerror(&Reason);
    zip_error_fini(&Reason);
    throw EZipError("Cannot create the archive " + AFileName.toStdString() + ": " + Why);
  }
  FFileName = AFileName;
}

int TZipWriter::AddFiles(const QString& ABaseFolder, const QString& AMask) {
  if (!IsOpen())
    throw EZipError("No archive is open to add files to");
  const QDir Folder(ABaseFolder);
  if (!Folder.exists())
    throw EZipError("The folder " + ABaseFolder.toStdString() + " does not exist");
  // The mask is matched here rather than by QDir, whose filters would read
  // "[" in a file name as the start of a character class.
  int Added = 0;
  const QStringList Names = Folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  for (const QString& Name : Names) {
    if (!MatchesFileMask(Name, AMask))
      continue;
    AddFile(Folder.filePath(Name), Name);
    ++Added;
  }
  return Added;
}

void TZipWriter::AddFile(const QString& APath, const QString& AEntryName) {
  auto* State = new TFileSource(*this, APath, AEntryName);
  zip_source_t* Source = zip_source_function(FArchive, &TFileSource::Callback, State);
  if (Source == nullptr) {
    delete State;
    throw EZipError("Cannot add " + APath.toStdString() + ": " + zip_strerror(FArchive));
  }
  // From here the source owns State and frees it through ZIP_SOURCE_FREE.
  if (zip_file_add(FArchive, AEntryName.toUtf8().constData(), Source,
                   ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
    zip_source_free(Source);
    throw EZipError("Cannot add " + APath.toStdString() + ": " + zip_strerror(FArchive));
  }
}

void TZipWriter::Close() {
  if (!IsOpen())
    return;
  FSourceFailure.clear();
  if (zip_close(FArchive) < 0) {
    const QString Why = FSourceFailure.isEmpty() ? QString::fromUtf8(zip_strerror(FArchive)) : FSourceFailure;
    throw EZipError("Cannot write the archive " + FFileName.toStdString() + ": " + Why.toStdString());
  }
  FArchive = nullptr;
}

void TZipWriter::Discard() {
  if (!IsOpen())
    return;
  zip_discard(FArchive);
  FArchive = nullptr;
  QFile::remove(FFileName);
}
