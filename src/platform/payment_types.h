#pragma once
// The platform's payment type codes (`codigoTipoPago`) that the service writes into movement
// documents and reads from promotions.

#include <cstdint>

namespace zv::payment_type {

inline constexpr int64_t kDigitalWallet = 1;
// Cash, the single entry of a sale without itemised payments, the fallback entry, and the
// e-commerce entry.
inline constexpr int64_t kCash = 9;
inline constexpr int64_t kCreditCard = 10;  // a card whose operation is not "DÉBITO"
inline constexpr int64_t kCheque = 11;
inline constexpr int64_t kExchangeVoucher = 12;
inline constexpr int64_t kDebitCard = 13;  // a card whose operation is exactly "DÉBITO"

}  // namespace zv::payment_type
