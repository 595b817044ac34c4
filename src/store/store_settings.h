#pragma once
// The integration settings: the platform account and every cursor, read from the store's
// `padrao` row.

#include "base/clock.h"
#include "base/integration_settings.h"
#include "base/log_sink.h"
#include "base/zentrovia_timer.h"
#include "store/store_session.h"

namespace zv {

// Runs the settings query on q and reads the row into s (the documented defaults when no
// row qualifies). Changes nothing in the store; q is left open on the row.
void ReadSettingsRow(TStoreQuery& q, IntegrationSettings& s);

// GetCredenciaisZentrovia: closes and reopens the connection, reads the settings into s and
// moves a start date older than two months up to that limit (in `padrao` too). Never
// raises: a failure is logged and leaves s as far as it was read. StoreQuery1 holds no
// statement afterwards, either way. Ends with the timer enabled at its current interval.
void GetCredenciaisZentrovia(TStoreSession& store, IntegrationSettings& s, IZentroviaTimer& timer,
                             const IClock& clock, const LogSink& log);

}  // namespace zv
