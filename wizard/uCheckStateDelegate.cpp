#include "wizard/uCheckStateDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>

#include "engine/uSelectorHelper.h"

namespace {

constexpr int StateImageSize = 16;

// A view builds the options of its items in a protected routine; the hit
// test must see the very geometry the painting saw, so it asks the view the
// same way the view asks itself.
struct TViewOptionAccess : QAbstractItemView {
  static QStyleOptionViewItem ItemOption(const QAbstractItemView& AView, const QModelIndex& AIndex) {
    QStyleOptionViewItem Option;
    (AView.*(&TViewOptionAccess::initViewItemOption))(&Option);
    Option.rect = AView.visualRect(AIndex);
    return Option;
  }
};

QStyle* StyleOf(const QStyleOptionViewItem& AOption) {
  return AOption.widget ? AOption.widget->style() : QApplication::style();
}

}  // namespace

std::uint8_t CheckStateNumber(Qt::CheckState AState) {
  switch (AState) {
    case Qt::Checked:
      return csChecked;
    case Qt::PartiallyChecked:
      return csPartlyChecked;
    case Qt::Unchecked:
      break;
  }
  return csUnchecked;
}

Qt::CheckState QtCheckState(std::uint8_t ACheckStateNumber) {
  switch (ACheckStateNumber) {
    case csChecked:
      return Qt::Checked;
    case csPartlyChecked:
      return Qt::PartiallyChecked;
    default:
      return Qt::Unchecked;
  }
}

TCheckStateDelegate::TCheckStateDelegate(ICheckStateImageIndexProvider& AProvider, const QList<QPixmap>& AImages,
                                         QObject* AParent)
    : QStyledItemDelegate(AParent), FProvider(AProvider), FImages(AImages) {}

QRect TCheckStateDelegate::StateImageRect(const QStyleOptionViewItem& AOption) {
  const QRect CheckBox = StyleOf(AOption)->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &AOption,
                                                           AOption.widget);
  QRect Picture(0, 0, StateImageSize, StateImageSize);
  Picture.moveCenter(CheckBox.center());
  return Picture;
}

// The style paints the item around its check box; the check box's place gets
// only the item's background, and then the picture.
void TCheckStateDelegate::paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
                                const QModelIndex& AIndex) const {
  QStyleOptionViewItem Option(AOption);
  initStyleOption(&Option, AIndex);
  if (!(Option.features & QStyleOptionViewItem::HasCheckIndicator)) {
    QStyledItemDelegate::paint(APainter, AOption, AIndex);
    return;
  }
  QStyle* Style = StyleOf(Option);
  const QRect CheckBox = Style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &Option, Option.widget);
  const QRect Picture = StateImageRect(Option);

  APainter->save();
  APainter->setClipRegion(QRegion(Option.rect).subtracted(CheckBox));
  Style->drawControl(QStyle::CE_ItemViewItem, &Option, APainter, Option.widget);
  APainter->setClipRegion(QRegion(Option.rect).intersected(CheckBox.united(Picture)));
  Style->drawPrimitive(QStyle::PE_PanelItemViewItem, &Option, APainter, Option.widget);
  APainter->restore();

  const int ImageIndex = FProvider.GetCheckStateImageIndex(CheckStateNumber(Option.checkState));
  if (ImageIndex >= 0 && ImageIndex < FImages.size())
    APainter->drawPixmap(Picture.topLeft(), FImages[ImageIndex]);
}

QRect TCheckStateDelegate::StateImageRectOf(const QAbstractItemView& AView, const QModelIndex& AIndex) {
  const auto* Delegate = dynamic_cast<const TCheckStateDelegate*>(AView.itemDelegateForIndex(AIndex));
  if (!AIndex.isValid() || !Delegate)
    return QRect();
  QStyleOptionViewItem Option = TViewOptionAccess::ItemOption(AView, AIndex);
  Delegate->initStyleOption(&Option, AIndex);
  if (!(Option.features & QStyleOptionViewItem::HasCheckIndicator))
    return QRect();
  return StateImageRect(Option);
}

bool TCheckStateDelegate::IsOnStateImage(const QAbstractItemView& AView, const QModelIndex& AIndex, QPoint APoint) {
  return StateImageRectOf(AView, AIndex).contains(APoint);
}
