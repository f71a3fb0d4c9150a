#include "wizard/uFilePreview.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QImageReader>
#include <QList>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <optional>

#include "engine/uSelectorHelper.h"

namespace {

constexpr int HexBytesPerLine = 16;
// Text may hold a tab, line ends, a form feed or an escape; other control
// characters say the bytes are not text. A few are let pass, as old text
// files carry the odd one.
constexpr qsizetype ControlCharactersPerMille = 5;
constexpr QSize PreviewWindowSize(640, 480);

bool LooksLikeText(const QString& AText) {
  qsizetype Controls = 0;
  for (const QChar Char : AText) {
    const char16_t Code = Char.unicode();
    if (Code == 0)
      return false;
    const bool Allowed = Code == u'\t' || Code == u'\n' || Code == u'\r' || Code == u'\f' || Code == 0x1b;
    if (Code < 0x20 && !Allowed)
      ++Controls;
  }
  return Controls * 1000 <= AText.size() * ControlCharactersPerMille;
}

// The text in AEncoding, or nothing when the bytes do not decode cleanly in
// it. A character cut off at the end of what was read is no error: the
// decoder keeps it for more input that never comes.
std::optional<QString> Decode(const QByteArray& ABytes, QStringConverter::Encoding AEncoding) {
  QStringDecoder Decoder(AEncoding);
  const QString Text = Decoder.decode(ABytes);
  if (Decoder.hasError() || !LooksLikeText(Text))
    return std::nullopt;
  return Text;
}

// UTF-16 without a byte order mark: Windows writes it little-endian, and
// text in Latin letters then has a zero in most odd bytes.
bool LooksLikeUtf16Le(const QByteArray& ABytes) {
  qsizetype OddZeros = 0;
  for (qsizetype Index = 1; Index < ABytes.size(); Index += 2)
    OddZeros += ABytes[Index] == 0;
  return ABytes.size() >= 2 && OddZeros * 2 >= ABytes.size() / 2;
}

// Formats that begin with a signature of their own. Readers of formats
// without one (TGA, for one) take random bytes for a picture now and then,
// and a deleted file's clusters are often just that.
bool HasSignature(const QByteArray& AFormat) {
  static const QList<QByteArray> Signed = {"png", "jpeg", "jpg", "gif", "bmp", "ico", "cur", "webp",
                                           "tif", "tiff", "svg", "svgz", "icns", "jp2"};
  return Signed.contains(AFormat.toLower());
}

std::optional<TPreviewContent> ImagePreview(const QByteArray& ABytes) {
  QByteArray Bytes(ABytes);
  QBuffer Buffer(&Bytes);
  Buffer.open(QIODevice::ReadOnly);
  QImageReader Reader(&Buffer);
  const QByteArray Format = Reader.format();
  QImage Image;
  if (!HasSignature(Format) || !Reader.read(&Image) || Image.isNull())
    return std::nullopt;
  return TPreviewContent{pvkImage, Image, QString(), QString::fromLatin1(Format).toUpper()};
}

std::optional<TPreviewContent> TextPreview(const QByteArray& ABytes) {
  struct TCandidate {
    QStringConverter::Encoding Encoding;
    const char* Name;
  };
  // A byte order mark names its encoding; otherwise UTF-8, which plain
  // ASCII also is, then UTF-16 as Windows writes it, and Latin-1 last, as
  // every byte decodes in it.
  std::vector<TCandidate> Candidates;
  if (const std::optional<QStringConverter::Encoding> Marked = QStringConverter::encodingForData(ABytes))
    Candidates.push_back({*Marked, QStringConverter::nameForEncoding(*Marked)});
  Candidates.push_back({QStringConverter::Utf8, "UTF-8"});
  if (LooksLikeUtf16Le(ABytes))
    Candidates.push_back({QStringConverter::Utf16LE, "UTF-16LE"});
  Candidates.push_back({QStringConverter::Latin1, "ISO-8859-1"});
  for (const TCandidate& Candidate : Candidates)
    if (std::optional<QString> Text = Decode(ABytes, Candidate.Encoding))
      return TPreviewContent{pvkText, QImage(), *Text, QString::fromLatin1(Candidate.Name)};
  return std::nullopt;
}

}  // namespace

TPreviewContent MakePreview(const QByteArray& ABytes) {
  if (std::optional<TPreviewContent> Image = ImagePreview(ABytes))
    return *Image;
  if (!ABytes.isEmpty())
    if (std::optional<TPreviewContent> Text = TextPreview(ABytes))
      return *Text;
  return TPreviewContent{pvkHex, QImage(), HexDump(ABytes.left(HexDumpBytes)), QStringLiteral("binary")};
}

QString HexDump(const QByteArray& ABytes) {
  QString Dump;
  for (qsizetype Offset = 0; Offset < ABytes.size(); Offset += HexBytesPerLine) {
    const QByteArray Line = ABytes.mid(Offset, HexBytesPerLine);
    QString Hex;
    QString Printable;
    for (qsizetype Index = 0; Index < HexBytesPerLine; ++Index) {
      if (Index < Line.size()) {
        const auto Byte = static_cast<unsigned char>(Line[Index]);
        Hex += QStringLiteral("%1 ").arg(Byte, 2, 16, QLatin1Char('0'));
        Printable += Byte >= 0x20 && Byte < 0x7f ? QChar(static_cast<char16_t>(Byte)) : QChar(u'.');
      } else {
        Hex += QStringLiteral("   ");
      }
      if (Index == HexBytesPerLine / 2 - 1)
        Hex += QLatin1Char(' ');
    }
    Dump += QStringLiteral("%1  %2 |%3|\n").arg(Offset, 8, 16, QLatin1Char('0')).arg(Hex, Printable);
  }
  return Dump;
}

TPreviewDialog::TPreviewDialog(QWidget* AParent) : QDialog(AParent) {
  setObjectName(QStringLiteral("dlgPreview"));
  lblRecycleBin = new QLabel(this);
  lblRecycleBin->setObjectName(QStringLiteral("lblRecycleBin"));
  lblRecycleBin->setWordWrap(true);
  lblWarning = new QLabel(this);
  lblWarning->setObjectName(QStringLiteral("lblWarning"));
  lblWarning->setWordWrap(true);
  lblWarning->setStyleSheet(QStringLiteral("QLabel { color: #800000; font-weight: bold; }"));
  lblClaimedBy = new QLabel(this);
  lblClaimedBy->setObjectName(QStringLiteral("lblClaimedBy"));
  lblClaimedBy->setWordWrap(true);
  lblFormat = new QLabel(this);
  lblFormat->setObjectName(QStringLiteral("lblFormat"));

  txtPreview = new QPlainTextEdit(this);
  txtPreview->setObjectName(QStringLiteral("txtPreview"));
  txtPreview->setReadOnly(true);
  txtPreview->setLineWrapMode(QPlainTextEdit::NoWrap);
  imgPreview = new QLabel;
  imgPreview->setObjectName(QStringLiteral("imgPreview"));
  FImageArea = new QScrollArea(this);
  FImageArea->setWidget(imgPreview);
  FImageArea->setAlignment(Qt::AlignCenter);
  FPages = new QStackedWidget(this);
  FPages->addWidget(txtPreview);
  FPages->addWidget(FImageArea);

  auto* Layout = new QVBoxLayout(this);
  Layout->addWidget(lblRecycleBin);
  Layout->addWidget(lblWarning);
  Layout->addWidget(lblClaimedBy);
  Layout->addWidget(lblFormat);
  Layout->addWidget(FPages, 1);
  resize(PreviewWindowSize);
}

void TPreviewDialog::ShowFile(const QString& AName, std::int64_t ADataSize, double AOverwritePercent,
                              const QByteArray& ABytes, const QString& AFromRecycleBin,
                              const QString& AClaimedBy) {
  const QLocale Locale = QLocale::system();
  setWindowTitle(QStringLiteral("Preview of %1").arg(AName));
  lblRecycleBin->setVisible(!AFromRecycleBin.isEmpty());
  lblRecycleBin->setText(AFromRecycleBin);
  lblWarning->setVisible(AOverwritePercent >= GoodFileThreshold);
  lblWarning->setText(QStringLiteral("This file is estimated %1% overwritten: what follows may be the data of "
                                     "other files written since.")
                          .arg(Locale.toString(AOverwritePercent, 'f', 2)));
  lblClaimedBy->setVisible(!AClaimedBy.isEmpty());
  lblClaimedBy->setText(AClaimedBy);
  const TPreviewContent Content = MakePreview(ABytes);
  const QString Shown = QStringLiteral("%1, the first %2 of %3")
                      .arg(Content.Format, Locale.formattedDataSize(Content.Kind == pvkHex
                                                                        ? std::min(ABytes.size(), HexDumpBytes)
                                                                        : ABytes.size()),
                           Locale.formattedDataSize(ADataSize));
  lblFormat->setText(Shown);
  if (Content.Kind == pvkImage) {
    imgPreview->setPixmap(QPixmap::fromImage(Content.Image));
    imgPreview->adjustSize();
    FPages->setCurrentWidget(FImageArea);
  } else {
    txtPreview->setFont(Content.Kind == pvkHex ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : font());
    txtPreview->setPlainText(Content.Text);
    FPages->setCurrentWidget(txtPreview);
  }
  show();
  raise();
}
