#include "wizard/uDriveTypeImages.h"

#include <QPainter>
#include <QPainterPath>

// Drawn here rather than shipped as files, so that they need no resources
// and stay sharp at any device pixel ratio. Every picture shares the grey
// case of a drive, the kind shows in what is drawn on or around it.

namespace {

const QColor Outline(0x44, 0x48, 0x4e);
const QColor Case(0xc8, 0xcc, 0xd2);
const QColor Dark(0x6a, 0x70, 0x78);
const QColor Light(0x3c, 0xb0, 0x4c);

using TPainterStep = void (*)(QPainter& APainter);

void DrawDriveCase(QPainter& APainter, const QRectF& ABody) {
  APainter.setPen(QPen(Outline, 1));
  APainter.setBrush(Case);
  APainter.drawRoundedRect(ABody, 2, 2);
}

void DrawActivityLight(QPainter& APainter, const QPointF& ACentre) {
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(Light);
  APainter.drawEllipse(ACentre, 1.5, 1.5);
}

void DrawUnknown(QPainter& APainter) {
  DrawDriveCase(APainter, QRectF(2.5, 7.5, 19, 10));
  QFont Font = APainter.font();
  Font.setPixelSize(10);
  Font.setBold(true);
  APainter.setFont(Font);
  APainter.setPen(Outline);
  APainter.drawText(QRectF(2.5, 7.5, 19, 10), Qt::AlignCenter, QStringLiteral("?"));
}

void DrawNoDrive(QPainter& APainter) {
  APainter.setPen(QPen(Dark, 1, Qt::DashLine));
  APainter.setBrush(Qt::NoBrush);
  APainter.drawRoundedRect(QRectF(2.5, 7.5, 19, 10), 2, 2);
  APainter.setPen(QPen(QColor(0xc0, 0x30, 0x30), 2));
  APainter.drawLine(QPointF(8, 8.5), QPointF(16, 16.5));
  APainter.drawLine(QPointF(16, 8.5), QPointF(8, 16.5));
}

// A stick with its plug on the left.
void DrawRemovable(QPainter& APainter) {
  APainter.setPen(QPen(Outline, 1));
  APainter.setBrush(QColor(0xe8, 0xe8, 0xe8));
  APainter.drawRect(QRectF(1.5, 9.5, 5, 6));
  DrawDriveCase(APainter, QRectF(6.5, 7.5, 16, 10));
  DrawActivityLight(APainter, QPointF(19, 12.5));
}

void DrawFixed(QPainter& APainter) {
  DrawDriveCase(APainter, QRectF(1.5, 7.5, 21, 10));
  APainter.setPen(QPen(Dark, 1));
  APainter.drawLine(QPointF(4, 14.5), QPointF(14, 14.5));
  DrawActivityLight(APainter, QPointF(18.5, 14.5));
}

// A drive on a cable.
void DrawNetwork(QPainter& APainter) {
  DrawDriveCase(APainter, QRectF(2.5, 3.5, 19, 9));
  APainter.setPen(QPen(Outline, 1.5));
  APainter.drawLine(QPointF(12, 12.5), QPointF(12, 19));
  APainter.drawLine(QPointF(3, 19), QPointF(21, 19));
  APainter.setBrush(Case);
  APainter.setPen(QPen(Outline, 1));
  APainter.drawRect(QRectF(9.5, 17.5, 5, 4));
}

void DrawOpticalDisc(QPainter& APainter) {
  QRadialGradient Surface(QPointF(12, 12), 10);
  Surface.setColorAt(0, QColor(0xf4, 0xf4, 0xfa));
  Surface.setColorAt(1, QColor(0xa8, 0xc0, 0xe0));
  APainter.setPen(QPen(Outline, 1));
  APainter.setBrush(Surface);
  APainter.drawEllipse(QPointF(12, 12), 10, 10);
  APainter.setBrush(Qt::white);
  APainter.drawEllipse(QPointF(12, 12), 3, 3);
}

// A memory chip with its pins.
void DrawRAM(QPainter& APainter) {
  APainter.setPen(QPen(Outline, 1));
  for (int Pin = 0; Pin < 4; ++Pin) {
    const qreal X = 6.5 + Pin * 3.5;
    APainter.drawLine(QPointF(X, 3), QPointF(X, 6));
    APainter.drawLine(QPointF(X, 18), QPointF(X, 21));
  }
  APainter.setBrush(QColor(0x30, 0x34, 0x3a));
  APainter.drawRect(QRectF(3.5, 6.5, 17, 11));
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(Light);
  APainter.drawEllipse(QPointF(6.5, 9.5), 1, 1);
}

QPixmap DrawImage(TPainterStep ADraw) {
  QPixmap Image(DriveTypeImageSize, DriveTypeImageSize);
  Image.fill(Qt::transparent);
  QPainter Painter(&Image);
  Painter.setRenderHint(QPainter::Antialiasing);
  ADraw(Painter);
  return Image;
}

}  // namespace

QList<QPixmap> DrawDriveTypeImages() {
  // In the order of TDriveType.
  const TPainterStep Steps[] = {DrawUnknown, DrawNoDrive, DrawRemovable, DrawFixed,
                                DrawNetwork, DrawOpticalDisc, DrawRAM};
  static_assert(std::size(Steps) == dtRAM + 1, "one picture per drive type");
  QList<QPixmap> Images;
  for (const TPainterStep Step : Steps)
    Images.append(DrawImage(Step));
  return Images;
}
