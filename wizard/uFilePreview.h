#pragma once

#include <cstdint>

#include <QByteArray>
#include <QDialog>
#include <QImage>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QStackedWidget;

// What a preview shows of a file's first bytes: a picture when the image
// readers know its format, text when the bytes read as text in some
// encoding, a hex dump otherwise.
enum TPreviewKind { pvkImage, pvkText, pvkHex };

struct TPreviewContent {
  TPreviewKind Kind = pvkHex;
  QImage Image;
  QString Text;
  // What the bytes were read as: the image format, the text encoding, or
  // "binary".
  QString Format;
};

// At most this many bytes are read for a preview, so that a slow or failing
// drive is not read for long, and at most the first HexDumpBytes of them are
// dumped.
constexpr std::int64_t PreviewReadLimit = 4 * 1024 * 1024;
constexpr qsizetype HexDumpBytes = 64 * 1024;

TPreviewContent MakePreview(const QByteArray& ABytes);

// Offset, sixteen bytes in hex and the same bytes as printable ASCII, per line.
QString HexDump(const QByteArray& ABytes);

// The preview window of the file selection page: one file at a time, above
// it where a file from the Recycle Bin came from, and a warning when the
// file is estimated overwritten.
class TPreviewDialog : public QDialog {
public:
  explicit TPreviewDialog(QWidget* AParent);

  // ADataSize is the file's whole size, AOverwritePercent its estimate;
  // AFromRecycleBin says where a file from the Recycle Bin was and when it
  // went there, empty for any other file; AClaimedBy what holds the file's
  // clusters now, empty where nothing does.
  void ShowFile(const QString& AName, std::int64_t ADataSize, double AOverwritePercent, const QByteArray& ABytes,
                const QString& AFromRecycleBin, const QString& AClaimedBy);

private:
  QLabel* lblRecycleBin = nullptr;
  QLabel* lblWarning = nullptr;
  QLabel* lblClaimedBy = nullptr;
  QLabel* lblFormat = nullptr;
  QStackedWidget* FPages = nullptr;
  QPlainTextEdit* txtPreview = nullptr;
  QScrollArea* FImageArea = nullptr;
  QLabel* imgPreview = nullptr;
};
