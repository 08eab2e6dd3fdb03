#pragma once

#include "platform/text.h"

namespace vellora {

// The travel site's one-way booking page for a route, on the booking host. Cities and date go
// in as they stand; making the address fit for a browser is the browser's side's business.
Text BookingPageUrl(const Text& from_city, const Text& to_city, const Text& date);

}  // namespace vellora
