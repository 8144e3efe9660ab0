// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>

#include <obs.h>

namespace stilwane {

// Reading numbers a user or another program may have damaged in a saved scene collection: only a
// finite JSON number counts; a string, an object, a missing key or NaN is no value at all.
std::optional<double> storedNumber(obs_data_t *data, const char *key);

// A stored whole number within [min, max] (3.0 counts, 2.5 does not), or no value.
std::optional<long long> storedWholeNumber(obs_data_t *data, const char *key, long long min, long long max);

} // namespace stilwane
