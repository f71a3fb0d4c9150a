#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>

// Every on-disk structure is read in place from a byte buffer whose contents
// anyone may have crafted. A TByteView borrows a range of such a buffer and
// hands out little-endian fields only from inside that range; structures
// nested in it are read through sub-views limited to their declared size.
class TByteView {
public:
  TByteView() = default;
  TByteView(const void* AData, std::size_t ASize)
      : FData(static_cast<const std::uint8_t*>(AData)), FSize(AData ? ASize : 0) {}

  const std::uint8_t* Data() const { return FData; }
  std::size_t Size() const { return FSize; }
  bool Empty() const { return FSize == 0; }

  // Whether ALength bytes from AOffset lie inside the view.
  bool Contains(std::size_t AOffset, std::size_t ALength) const {
    return AOffset <= FSize && ALength <= FSize - AOffset;
  }

  // The little-endian integer at AOffset, or nothing when it does not fit.
  template <typename T>
  std::optional<T> TryGet(std::size_t AOffset) const {
    static_assert(std::is_integral_v<T>);
    if (!Contains(AOffset, sizeof(T)))
      return std::nullopt;
    std::make_unsigned_t<T> value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
      value = static_cast<std::make_unsigned_t<T>>((value << 8) | FData[AOffset + i]);
    return static_cast<T>(value);
  }

  // The little-endian integer at AOffset; 0 for a field the view does not hold.
  template <typename T>
  T Get(std::size_t AOffset) const {
    return TryGet<T>(AOffset).value_or(T{0});
  }

  // The bytes from AOffset on, at most ALength of them; empty when AOffset
  // lies past the end.
  TByteView Sub(std::size_t AOffset, std::size_t ALength) const {
    if (AOffset >= FSize)
      return {};
    return {FData + AOffset, ALength < FSize - AOffset ? ALength : FSize - AOffset};
  }

  TByteView From(std::size_t AOffset) const { return Sub(AOffset, FSize); }

  // Where AInner starts inside this view; nothing when it starts elsewhere.
  std::optional<std::size_t> OffsetOf(const TByteView& AInner) const {
    const auto outer = reinterpret_cast<std::uintptr_t>(FData);
    const auto inner = reinterpret_cast<std::uintptr_t>(AInner.FData);
    if (FData == nullptr || inner < outer || inner - outer > FSize)
      return std::nullopt;
    return inner - outer;
  }

  // Whether both views hold the same bytes.
  bool SameBytes(const TByteView& AOther) const {
    return FSize == AOther.FSize && (FSize == 0 || std::memcmp(FData, AOther.FData, FSize) == 0);
  }

private:
  const std::uint8_t* FData = nullptr;
  std::size_t FSize = 0;
};

// Arithmetic on sizes, offsets and cluster numbers read from disk: an
// overflow gives nothing instead of a wrapped value.
template <typename T>
std::optional<T> CheckedAdd(T A, T B) {
  T result;
  if (__builtin_add_overflow(A, B, &result))
    return std::nullopt;
  return result;
}

template <typename T>
std::optional<T> CheckedMul(T A, T B) {
  T result;
  if (__builtin_mul_overflow(A, B, &result))
    return std::nullopt;
  return result;
}
