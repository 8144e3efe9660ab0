// SPDX-License-Identifier: GPL-2.0-or-later
#include <remote/RemoteControl.hpp>
#include <remote/RequestFields.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>

#include <cmath>
#include <optional>

namespace stilwane {

// SetSceneItemTransform: obs-websocket 5's request of that name for an item of a vertical scene,
// limited to what the transform dialog edits. Every refusal is English, for the client.
namespace {

using Presence = RequestFields::Presence;

constexpr double kMaxPosition = 100000.0;
constexpr double kMinScale = 0.01;
constexpr double kMaxScale = 100.0;
constexpr long long kMaxCrop = 100000;

// The fields this request takes; other fields of obs-websocket's transform (rotation, bounds,
// alignment, and the sizes that GetSceneItemTransform reports) are left alone, so that a client can
// send back a transform it read.
constexpr const char *kPositionFields[] = {"positionX", "positionY"};
constexpr const char *kScaleFields[] = {"scaleX", "scaleY"};
constexpr const char *kCropFields[] = {"cropLeft", "cropRight", "cropTop", "cropBottom"};

void releaseItem(obs_data_item_t *item)
{
	obs_data_item_release(&item);
}
using DataItem = OBSPtr<obs_data_item_t *, releaseItem>;

Presence readNumber(obs_data_t *data, const char *field, double *out)
{
	DataItem item(obs_data_item_byname(data, field));
	if (!item)
		return Presence::Missing;
	if (obs_data_item_gettype(item) == OBS_DATA_OBJECT) {
		// A JSON null: as good as not given.
		OBSDataAutoRelease object = obs_data_item_get_obj(item);
		return object ? Presence::WrongType : Presence::Missing;
	}
	if (obs_data_item_gettype(item) != OBS_DATA_NUMBER)
		return Presence::WrongType;
	*out = obs_data_item_get_double(item);
	return Presence::Present;
}

Result outOfRange(const char *field, const QString &range)
{
	return Result::plain(Result::RequestFieldOutOfRange,
			     QString("field %1 must be %2").arg(RequestFields::quoted(field), range));
}

// What the request changes; a field left empty stays as the item has it.
struct TransformChange {
	std::optional<double> position[2];
	std::optional<double> scale[2];
	std::optional<int> crop[4]; // left, right, top, bottom
};

Result readChange(obs_data_t *transform, TransformChange *change)
{
	bool any = false;
	for (size_t i = 0; i < 2; i++) {
		double value = 0.0;
		const Presence present = readNumber(transform, kPositionFields[i], &value);
		if (present == Presence::WrongType)
			return RequestFields::wrongType(kPositionFields[i], "a number");
		if (present == Presence::Missing)
			continue;
		if (!(std::fabs(value) <= kMaxPosition))
			return outOfRange(kPositionFields[i],
					  QString("between %1 and %2").arg(-kMaxPosition).arg(kMaxPosition));
		change->position[i] = value;
		any = true;
	}
	for (size_t i = 0; i < 2; i++) {
		double value = 0.0;
		const Presence present = readNumber(transform, kScaleFields[i], &value);
		if (present == Presence::WrongType)
			return RequestFields::wrongType(kScaleFields[i], "a number");
		if (present == Presence::Missing)
			continue;
		if (!(std::fabs(value) >= kMinScale && std::fabs(value) <= kMaxScale))
			return outOfRange(
				kScaleFields[i],
				QString("between %1 and %2 (negative flips the item)").arg(kMinScale).arg(kMaxScale));
		change->scale[i] = value;
		any = true;
	}
	const RequestFields fields(transform);
	for (size_t i = 0; i < 4; i++) {
		long long value = 0;
		const Presence present = fields.readInteger(kCropFields[i], &value);
		if (present == Presence::WrongType)
			return RequestFields::wrongType(kCropFields[i], "an integer");
		if (present == Presence::Missing)
			continue;
		if (value < 0 || value > kMaxCrop)
			return outOfRange(kCropFields[i], QString("between 0 and %1").arg(kMaxCrop));
		change->crop[i] = int(value);
		any = true;
	}
	if (!any)
		return Result::plain(Result::MissingRequestField,
				     "field 'sceneItemTransform' has none of 'positionX', 'positionY', 'scaleX', "
				     "'scaleY', 'cropLeft', 'cropRight', 'cropTop', 'cropBottom'");
	return Result();
}

void applyChange(obs_sceneitem_t *item, const TransformChange &change)
{
	vec2 pos, scale;
	obs_sceneitem_crop crop = {};
	obs_sceneitem_get_pos(item, &pos);
	obs_sceneitem_get_scale(item, &scale);
	obs_sceneitem_get_crop(item, &crop);
	pos.x = float(change.position[0].value_or(pos.x));
	pos.y = float(change.position[1].value_or(pos.y));
	scale.x = float(change.scale[0].value_or(scale.x));
	scale.y = float(change.scale[1].value_or(scale.y));
	crop.left = change.crop[0].value_or(crop.left);
	crop.right = change.crop[1].value_or(crop.right);
	crop.top = change.crop[2].value_or(crop.top);
	crop.bottom = change.crop[3].value_or(crop.bottom);

	obs_sceneitem_defer_update_begin(item);
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_set_scale(item, &scale);
	obs_sceneitem_set_crop(item, &crop);
	obs_sceneitem_defer_update_end(item);
}

obs_data_t *transformData(obs_sceneitem_t *item)
{
	vec2 pos, scale;
	obs_sceneitem_crop crop = {};
	obs_sceneitem_get_pos(item, &pos);
	obs_sceneitem_get_scale(item, &scale);
	obs_sceneitem_get_crop(item, &crop);
	obs_data_t *data = obs_data_create();
	obs_data_set_double(data, "positionX", pos.x);
	obs_data_set_double(data, "positionY", pos.y);
	obs_data_set_double(data, "scaleX", scale.x);
	obs_data_set_double(data, "scaleY", scale.y);
	obs_data_set_int(data, "cropLeft", crop.left);
	obs_data_set_int(data, "cropRight", crop.right);
	obs_data_set_int(data, "cropTop", crop.top);
	obs_data_set_int(data, "cropBottom", crop.bottom);
	return data;
}

} // namespace

Result RemoteControl::setSceneItemTransform(obs_data_t *request, obs_data_t *response)
{
	Result error;
	OBSSourceAutoRelease scene = resolveVerticalScene(request, &error);
	if (!scene)
		return error;
	const RequestFields fields(request);
	long long id = 0;
	if (Result missing = fields.requireInteger("sceneItemId", &id); !missing)
		return missing;
	if (id < 0)
		return outOfRange("sceneItemId", "0 or more");

	obs_sceneitem_t *item = obs_scene_find_sceneitem_by_id(obs_scene_from_source(scene), id);
	if (!item)
		return Result::plain(Result::ResourceNotFound,
				     QString("no scene item with the id %1 in the vertical scene '%2'")
					     .arg(id)
					     .arg(QString::fromUtf8(obs_source_get_name(scene))));

	DataItem field(obs_data_item_byname(request, "sceneItemTransform"));
	OBSDataAutoRelease transform =
		field && obs_data_item_gettype(field) == OBS_DATA_OBJECT ? obs_data_item_get_obj(field) : nullptr;
	if (!transform) {
		// A JSON null arrives as an object item without an object.
		if (field && obs_data_item_gettype(field) != OBS_DATA_OBJECT)
			return RequestFields::wrongType("sceneItemTransform", "an object");
		return RequestFields::missing("sceneItemTransform");
	}

	TransformChange change;
	if (Result refused = readChange(transform, &change); !refused)
		return refused;

	applyChange(item, change);
	CollectionSaver::instance()->request();

	obs_data_set_string(response, "sceneUuid", obs_source_get_uuid(scene));
	obs_data_set_string(response, "sceneName", obs_source_get_name(scene));
	obs_data_set_int(response, "sceneItemId", id);
	OBSDataAutoRelease applied = transformData(item);
	obs_data_set_obj(response, "sceneItemTransform", applied);
	return Result();
}

} // namespace stilwane
