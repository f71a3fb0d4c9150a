#pragma once

#include <cstdint>

#include <QList>
#include <QPixmap>
#include <QStyledItemDelegate>

class QAbstractItemView;

// Chooses the tick picture a view shows for a check state (0 unticked,
// 1 ticked, 2 partly ticked). The page that owns the pictures implements it
// over its own lifetime, so nobody frees it through this class.
class ICheckStateImageIndexProvider {
public:
  virtual std::int32_t GetCheckStateImageIndex(std::uint8_t ACheckState) = 0;

protected:
  ~ICheckStateImageIndexProvider() = default;
};

// The check state a model reports in Qt::CheckStateRole, as a state number.
std::uint8_t CheckStateNumber(Qt::CheckState AState);
Qt::CheckState QtCheckState(std::uint8_t ACheckStateNumber);

// Paints an item whose model reports a check state with one of the view's
// own tick pictures instead of the style's check box, in the place the
// style lays the check box out, and answers whether a point lies on that
// picture. Items without a check state are painted as usual.
class TCheckStateDelegate : public QStyledItemDelegate {
public:
  TCheckStateDelegate(ICheckStateImageIndexProvider& AProvider, const QList<QPixmap>& AImages, QObject* AParent);

  void paint(QPainter* APainter, const QStyleOptionViewItem& AOption, const QModelIndex& AIndex) const override;

  // Where the view shows the tick picture of AIndex, in the coordinates of
  // its viewport; empty unless this kind of delegate paints one there.
  static QRect StateImageRectOf(const QAbstractItemView& AView, const QModelIndex& AIndex);
  static bool IsOnStateImage(const QAbstractItemView& AView, const QModelIndex& AIndex, QPoint APoint);

private:
  // Where the picture goes: centred on the style's check box.
  static QRect StateImageRect(const QStyleOptionViewItem& AOption);

  ICheckStateImageIndexProvider& FProvider;
  QList<QPixmap> FImages;
};
