// SPDX-License-Identifier: GPL-2.0-or-later
#include <canvas/CollectionValues.hpp>

#include <cmath>

namespace stilwane {

std::optional<double> storedNumber(obs_data_t *data, const char *key)
{
	if (!data)
		return std::nullopt;
	obs_data_item_t *item = obs_data_item_byname(data, key);
	if (!item)
		return std::nullopt;
	std::optional<double> value;
	if (obs_data_item_gettype(item) == OBS_DATA_NUMBER && obs_data_item_has_user_value(item)) {
		const double number = obs_data_item_numtype(item) == OBS_DATA_NUM_INT
					      ? double(obs_data_item_get_int(item))
					      : obs_data_item_get_double(item);
		if (std::isfinite(number))
			value = number;
	}
	obs_data_item_release(&item);
	return value;
}

std::optional<long long> storedWholeNumber(obs_data_t *data, const char *key, long long min, long long max)
{
	const std::optional<double> number = storedNumber(data, key);
	if (!number || *number != std::floor(*number) || *number < double(min) || *number > double(max))
		return std::nullopt;
	return (long long)*number;
}

} // namespace stilwane
