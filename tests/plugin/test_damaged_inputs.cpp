// SPDX-License-Identifier: GPL-2.0-or-later
// Damaged input through the real loading code: thousands of config.json files and "stilwane" collection
// objects, made from valid ones by a generator with a fixed seed. Nothing may crash, loaded values stay
// in their ranges, and whatever was not damaged (other keys, keys of other versions, the good parts of
// a collection object) is used and saved again.
// QtTest first: libobs's SIMD macros break the compiler's intrinsics headers included after them.
#include <QtTest>

#include <audio/HorizontalExclusionManager.hpp>
#include <audio/VerticalVolumeManager.hpp>
#include <canvas/CanvasManager.hpp>
#include <hotkeys/HotkeyManager.hpp>
#include <common/ConfigRecord.hpp>

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestMain.hpp>

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <cmath>
#include <random>

#include <obs.hpp>

using namespace stilwane;

namespace {

// What a replacement value is to the loading code. Integer: a whole number within 32 bits; Number: any
// other number; Unparsable: text libobs's JSON reader refuses (NaN, overflows, nesting beyond 2048), so
// the whole file is unreadable.
enum class Kind { String, Bool, Null, Integer, Number, Object, Array, Unparsable };

struct Replacement {
	QByteArray json;
	Kind kind;
};

QByteArray nestedObjects(int depth)
{
	return QByteArray("{\"a\":").repeated(depth) + "1" + QByteArray("}").repeated(depth);
}

const QList<Replacement> &replacements()
{
	static const QList<Replacement> list = {
		{R"("text")", Kind::String},
		{R"("")", Kind::String},
		// Not a raw string: moc misreads backslashes in raw strings, and then the whole file.
		{"\"\\u00e9\\ud83d\\ude00 \\\"quoted\\\"\"", Kind::String},
		{"true", Kind::Bool},
		{"false", Kind::Bool},
		{"null", Kind::Null},
		{"0", Kind::Integer},
		{"-1", Kind::Integer},
		{"3.0", Kind::Integer},
		{"2.5", Kind::Number},
		{"2147483648", Kind::Number},
		{"-2147483649", Kind::Number},
		{"4294968296", Kind::Number}, // 2^32 + 1000
		{"9223372036854775807", Kind::Number},
		{"-9223372036854775808", Kind::Number},
		{"1e300", Kind::Number},
		{"-1e300", Kind::Number},
		{"1e-300", Kind::Number},
		{"NaN", Kind::Unparsable},
		{"Infinity", Kind::Unparsable},
		{"-Infinity", Kind::Unparsable},
		{"1e400", Kind::Unparsable},
		{"-99999999999999999999", Kind::Unparsable},
		{nestedObjects(3000), Kind::Unparsable},
		{"{}", Kind::Object},
		{R"({"a": [{"b": null}], "c": 1})", Kind::Object},
		{nestedObjects(500), Kind::Object},
		{"[]", Kind::Array},
		{R"([1, "x", {"y": 2}])", Kind::Array},
	};
	return list;
}

Kind kindOf(const QJsonValue &value)
{
	switch (value.type()) {
	case QJsonValue::String:
		return Kind::String;
	case QJsonValue::Bool:
		return Kind::Bool;
	case QJsonValue::Double:
		return Kind::Integer;
	case QJsonValue::Object:
		return Kind::Object;
	case QJsonValue::Array:
		return Kind::Array;
	default:
		return Kind::Null;
	}
}

QJsonObject parseObject(const QByteArray &json)
{
	return QJsonDocument::fromJson(json).object();
}

QByteArray jsonText(const QJsonValue &value)
{
	return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).mid(1);
}

// What libobs makes of a text, as libobs writes it back; empty when libobs refuses the text.
QJsonObject throughLibobs(const QByteArray &text, bool *parsed = nullptr)
{
	OBSDataAutoRelease data = obs_data_create_from_json(text.constData());
	if (parsed)
		*parsed = data != nullptr;
	return data ? parseObject(obs_data_get_json(data)) : QJsonObject();
}

// The text of an object with one key's value replaced by raw JSON text.
QByteArray withValue(const QJsonObject &object, const QString &key, const QByteArray &json)
{
	QJsonObject copy = object;
	copy.insert(key, QStringLiteral("@@value@@"));
	return QJsonDocument(copy).toJson(QJsonDocument::Compact).replace("\"@@value@@\"", json);
}

// Random damage to a text: truncated, bytes or bits changed, spans cut out or repeated, or random bytes.
QByteArray damaged(const QByteArray &text, std::mt19937 &rng)
{
	auto below = [&rng](qsizetype n) {
		return qsizetype(rng() % uint32_t(std::max<qsizetype>(n, 1)));
	};
	QByteArray out = text;
	switch (rng() % 6) {
	case 0:
		out.truncate(below(out.size()));
		break;
	case 1:
		for (int i = 0, n = 1 + below(8); i < n; i++)
			out[below(out.size())] = char(rng() & 0xff);
		break;
	case 2:
		for (int i = 0, n = 1 + below(4); i < n; i++)
			out[below(out.size())] ^= char(1 << below(8));
		break;
	case 3:
		out.remove(below(out.size()), 1 + below(12));
		break;
	case 4: {
		const qsizetype at = below(out.size());
		out.insert(below(out.size()), out.mid(at, 1 + below(24)));
		break;
	}
	default:
		out = QByteArray(below(400), '\0');
		for (char &c : out)
			c = char(rng() & 0xff);
	}
	return out;
}

// Collects what the checks find, by problem, and prints a summary.
class Findings {
public:
	void add(const QString &problem, const QString &where) { map[problem] << where; }
	bool empty() const { return map.isEmpty(); }
	QByteArray summary() const
	{
		QString text;
		for (auto it = map.begin(); it != map.end(); ++it)
			text += QString("\n  %1: %2 cases, e.g. %3")
					.arg(it.key())
					.arg(it.value().size())
					.arg(it.value().first());
		return text.toUtf8();
	}

private:
	QMap<QString, QStringList> map;
};

// ---- config.json

// Every key differs from its default, so that a default shows where a damaged value was dropped. (No
// "//" inside: moc takes it for a comment in a raw string of several lines.)
const char *kBaseConfig = R"({
	"width": 720, "height": 1280, "mix_audio": true, "server": "example.invalid/live", "key": "secret",
	"encoder": "obs_x264", "video_bitrate": 4500, "audio_bitrate": 128, "audio_track": 2, "auto_start": false,
	"recording_directory": "recordings", "recording_format": "mkv", "recording_follow_main": true,
	"replay_seconds": 90, "replay_follow_main": true, "replay_save_with_main": false, "link_scenes": false,
	"match_main_transition": false, "transition_ms": 700, "restore_projectors": false,
	"projectors": [
		{"mode": "fullscreen", "screen_name": "HDMI-1", "screen_x": 1920, "screen_y": -10, "screen_width": 1920,
		 "screen_height": 1080, "x": 100, "y": 200, "width": 540, "height": 960, "geometry": "AdnQyw==",
		 "always_on_top": true},
		{"mode": "window", "screen_name": "DP-2", "screen_x": 0, "screen_y": 0, "screen_width": 2560,
		 "screen_height": 1440, "x": -300, "y": 40, "width": 405, "height": 720, "geometry": "",
		 "always_on_top": false}
	],
	"docks_shown": true, "main_dock_shown": true, "main_dock_collapsed": true, "main_dock_tab": 2,
	"show_guides": false, "show_phone_ui": false, "guide_preset": 2, "guide_top": 100, "guide_bottom": 500,
	"guide_left": 30, "guide_right": 60,
	"hotkeys": {"stilwane.start_streaming": [{"key": "OBS_KEY_F9"}]},
	"future_option": {"levels": [{"db": -6.5}]}, "zz_note": "from another version"
})";

// The documented ranges of loaded values (the load-time corrections), as problems found.
QStringList outOfRange(const ConfigRecord &c)
{
	QStringList problems;
	auto check = [&](const char *name, long long value, long long min, long long max) {
		if (value < min || value > max)
			problems << QString("%1 out of range").arg(name);
	};
	check("width", c.width, kMinCanvasSide, kMaxCanvasSide);
	check("height", c.height, kMinCanvasSide, kMaxCanvasSide);
	check("video_bitrate", c.videoBitrate, 500, 50000);
	check("audio_bitrate", c.audioBitrate, 64, 320);
	check("audio_track", c.audioTrack, 1, 6);
	check("replay_seconds", c.replaySeconds, 1, 180);
	check("main_dock_tab", c.mainDockTab, 0, 3);
	check("guide_preset", c.guidePreset, 0, 2);
	for (int32_t margin : {c.guideTop, c.guideBottom, c.guideLeft, c.guideRight})
		check("guide margin", margin, 0, 1000);
	if (c.recordingFormat != "mp4" && c.recordingFormat != "mkv")
		problems << "recording_format not mp4 or mkv";
	if (c.server.empty())
		problems << "server empty";
	for (const ProjectorRecord &p : c.projectors) {
		if (p.mode != "window" && p.mode != "fullscreen")
			problems << "projector mode";
		for (int32_t position : {p.screenX, p.screenY, p.x, p.y})
			check("projector position", position, -1000000, 1000000);
		for (int32_t side : {p.screenWidth, p.screenHeight})
			check("projector screen size", side, 0, 32768);
		for (int32_t side : {p.width, p.height})
			check("projector size", side, 1, 32768);
	}
	return problems;
}

// ---- the collection object

// A key of the "stilwane" object that no manager of this version writes.
const char *kFutureKey = "future_mix";

QStringList uuids(const QVector<SceneRef> &list)
{
	QStringList result;
	for (const SceneRef &ref : list)
		result << ref.uuid;
	return result;
}

QStringList sorted(QStringList list)
{
	list.sort();
	return list;
}

} // namespace

class TestDamagedInputs : public QObject {
	Q_OBJECT

	PluginFixture f;
	CanvasManager *m = CanvasManager::instance();
	QJsonObject baseConfig = parseObject(kBaseConfig);
	QJsonObject defaults;         // config.json of a default record
	QJsonObject defaultProjector; // one projector of a default record
	// A sentinel that no readable file can produce: an unreadable file leaves it.
	ConfigRecord sentinel;

	// A collection whose "stilwane" object holds a canvas of its own size, three scenes in the user's
	// order, a transition of the user's own, selected, with its duration, the audio managers' lists and
	// a key of another version.
	struct {
		OBSDataAutoRelease collection;
		QJsonObject object;
		QStringList order;
		QString current;
		QString slide;
	} base;

	QString path() const { return f.dir.filePath("config.json"); }

	QJsonObject saveAndRead()
	{
		saveConfig();
		QFile file(path());
		return file.open(QIODevice::ReadOnly) ? parseObject(file.readAll()) : QJsonObject();
	}

	// Loads the text as config.json (without a backup to fall back to) and checks what any text must
	// give. Returns whether libobs could read the text.
	bool loadConfigText(const QByteArray &text, const QString &where, Findings &findings)
	{
		QFile::remove(path() + ".bak");
		QFile file(path());
		if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
			qFatal("cannot write config.json");
		file.write(text);
		file.close();
		config() = sentinel;
		loadConfig();

		for (const QString &problem : outOfRange(config()))
			findings.add(problem, where);
		bool parsed = false;
		const QJsonObject read = throughLibobs(text, &parsed);
		if (!parsed) {
			if (config().key != sentinel.key || config().replaySeconds != sentinel.replaySeconds)
				findings.add("unreadable file changed the settings", where);
			return false;
		}

		// Saved, loaded and saved again, nothing changes; keys of other versions are written back.
		const QJsonObject saved = saveAndRead();
		for (auto it = read.begin(); it != read.end(); ++it) {
			if (!defaults.contains(it.key()) && it.key() != "hotkeys" &&
			    saved.value(it.key()) != it.value())
				findings.add("unknown key lost on save", where + " " + it.key());
		}
		if (read.value("hotkeys").isObject() && saved.value("hotkeys") != read.value("hotkeys"))
			findings.add("hotkeys lost on save", where);
		config() = ConfigRecord{};
		loadConfig();
		if (saveAndRead() != saved)
			findings.add("saved file does not load as saved", where);
		return true;
	}

	// After a load of the base file with one damaged value: every other key as in the base file, the
	// damaged one at its default when its value was of another JSON type.
	void checkKeyByKey(const QJsonObject &saved, const QString &key, Kind kind, const QJsonObject &base,
			   const QJsonObject &fallback, const QStringList &partners, const QString &where,
			   Findings &findings)
	{
		const bool dropped = kind != kindOf(base.value(key));
		for (auto it = fallback.begin(); it != fallback.end(); ++it) {
			const bool damagedKey = it.key() == key ||
						(partners.contains(key) && partners.contains(it.key()));
			if (damagedKey && !dropped)
				continue;
			const QJsonValue expected = damagedKey ? it.value() : base.value(it.key());
			if (saved.value(it.key()) != expected)
				findings.add(damagedKey ? QString("damaged %1 not back to its default").arg(it.key())
							: QString("%1 lost beside a damaged key").arg(it.key()),
					     where);
		}
	}

	void makeBaseCollection()
	{
		m->loadFromCollection(nullptr);
		m->setStudioMode(false);
		QVERIFY(m->resizeCanvas(720, 1280));
		m->setTransitionDuration(0);
		m->addScene("A");
		obs_source_t *b = obs_scene_get_source(m->addScene("B"));
		obs_source_t *c = obs_scene_get_source(m->addScene("C"));
		m->moveScene(QString::fromUtf8(obs_source_get_uuid(c)), -2);
		m->setCurrentScene(b, -1, "manual");
		QVERIFY(m->addTransition("slide_transition", "My Slide"));
		m->setTransitionDuration(1234);
		base.order = uuids(m->scenes());
		base.current = m->currentSceneUuid();
		base.slide = m->selectedTransitionUuid();
		QCOMPARE(base.order.size(), 3);

		OBSDataAutoRelease object = obs_data_create();
		m->saveToCollection(object);
		OBSDataAutoRelease collection = f.fe.saveCollection();
		m->releaseCanvas();

		// Fixed uuids in place of libobs's random ones: the damaged texts are the same on every run.
		QByteArray objectText = obs_data_get_json(object);
		QByteArray collectionText = obs_data_get_json(collection);
		const QStringList ids = QStringList(base.order)
					<< QString::fromUtf8(obs_data_get_string(object, "canvas_uuid")) << base.slide;
		QHash<QString, QString> fixed;
		for (qsizetype i = 0; i < ids.size(); i++) {
			fixed[ids[i]] = QString("00000000-0000-4000-8000-%1").arg(i, 12, 10, QChar('0'));
			objectText.replace(ids[i].toUtf8(), fixed[ids[i]].toUtf8());
			collectionText.replace(ids[i].toUtf8(), fixed[ids[i]].toUtf8());
		}
		for (QString &uuid : base.order)
			uuid = fixed[uuid];
		base.current = fixed[base.current];
		base.slide = fixed[base.slide];
		base.collection = obs_data_create_from_json(collectionText.constData());
		base.object = parseObject(objectText);
		// The audio lists as the managers write them, so that an undamaged list must come back unchanged.
		base.object.insert("vertical_volumes", QJsonArray{QJsonObject{{"uuid", "u1"},
									      {"global_channel", 0},
									      {"volume", 0.5},
									      {"muted", false},
									      {"vertical", true}}});
		base.object.insert("horizontal_exclusions", QJsonArray{QJsonObject{{"uuid", "u2"}, {"bits", 5}}});
		base.object.insert(kFutureKey,
				   QJsonObject{{"bus", QJsonArray{QJsonObject{{"gain", -3.5}}}}, {"on", true}});
	}

	// The collection restored as OBS restores it (the canvas without video, its scenes) and the object
	// handed to the managers as the plug-in hands it over.
	void loadCollectionObject(obs_data_t *object)
	{
		m->releaseCanvas();
		f.fe.switchCollection(base.collection, false);
		m->loadFromCollection(object);
		VerticalVolumeManager::instance()->loadFromCollection(object);
		HorizontalExclusionManager::instance()->loadFromCollection(object);
		m->setStudioMode(false);
	}

	// What every object must give: a canvas with video of a size in range, every scene, a transition
	// time in range, what the object held of the audio lists and other versions saved again. With a
	// damaged key named, everything else of the object must be used as saved.
	void checkCollection(const QString &key, Kind kind, const QJsonObject &read, const QString &where,
			     Findings &findings)
	{
		if (!m->hasCanvas() || !obs_canvas_has_video(m->canvas())) {
			findings.add("no canvas with video", where);
			return;
		}
		const QSize size(int(m->canvasWidth()), int(m->canvasHeight()));
		const bool named = !key.isEmpty();
		const bool sizeDamaged = key == "width" || key == "height";
		if (std::min(size.width(), size.height()) < kMinCanvasSide ||
		    std::max(size.width(), size.height()) > kMaxCanvasSide)
			findings.add("canvas size out of range", where);
		else if (sizeDamaged && size != QSize(int(config().width), int(config().height)))
			findings.add("damaged stored size not replaced by the configured size", where);
		else if (named && !sizeDamaged && size != QSize(720, 1280))
			findings.add("stored size not used", where);

		const QStringList order = uuids(m->scenes());
		if (sorted(order) != sorted(base.order))
			findings.add("scenes lost", where);
		else if (named && key != "scene_order" && order != base.order)
			findings.add("scene order not used", where);
		if (named && key != "current_scene" && m->currentSceneUuid() != base.current)
			findings.add("current scene not used", where);
		OBSSourceAutoRelease slide = m->transitionByUuid(base.slide);
		if (named && key != "vertical_transitions" && !slide)
			findings.add("saved transition not used", where);
		if (named && key != "vertical_transitions" && key != "selected_transition" &&
		    m->selectedTransitionUuid() != base.slide)
			findings.add("selected transition not used", where);

		const int duration = m->transitionDuration();
		if (duration < 0 || duration > kMaxTransitionMs)
			findings.add("transition duration out of range", where);
		else if (named && key != "transition_duration" && duration != 1234)
			findings.add("transition duration not used", where);
		else if (key == "transition_duration" && kind != Kind::Integer && kind != Kind::Number &&
			 duration != config().transitionMs)
			findings.add("damaged transition duration not replaced by the configured one", where);

		OBSDataAutoRelease out = obs_data_create();
		m->saveToCollection(out);
		VerticalVolumeManager::instance()->saveToCollection(out);
		HorizontalExclusionManager::instance()->saveToCollection(out);
		const QJsonObject saved = parseObject(obs_data_get_json(out));
		for (const char *kept : {"vertical_volumes", "horizontal_exclusions", kFutureKey}) {
			QJsonValue expected = named ? base.object.value(kept) : read.value(kept);
			// The audio lists are read entry by entry and written in their own form: a randomly damaged
			// list has no one right answer, an undamaged one must survive.
			const bool audioList = kept != kFutureKey;
			if (key == kept || (!named && audioList && expected != base.object.value(kept)))
				continue;
			if (saved.value(kept) != expected)
				findings.add(QString("%1 lost on save").arg(kept), where);
		}
	}

	// The object of a text, when libobs can read it, loaded and checked.
	void loadCollectionText(const QString &key, Kind kind, const QByteArray &text, const QString &where,
				Findings &findings)
	{
		OBSDataAutoRelease object = obs_data_create_from_json(text.constData());
		if (!object)
			return;
		loadCollectionObject(object);
		checkCollection(key, kind, {}, where, findings);
	}

	// Each key with each replacement, and with the numbers JSON cannot hold, set by hand.
	int damageEachKey(const QStringList &keys, Findings &findings)
	{
		int cases = 0;
		for (const QString &key : keys) {
			for (const Replacement &r : replacements()) {
				const QString where = QString("%1=%2").arg(key, QString::fromUtf8(r.json.left(40)));
				loadCollectionText(key, r.kind, withValue(base.object, key, r.json), where, findings);
				cases++;
			}
			for (double value : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
				OBSDataAutoRelease object =
					obs_data_create_from_json(QJsonDocument(base.object).toJson());
				obs_data_set_double(object, key.toUtf8().constData(), value);
				loadCollectionObject(object);
				checkCollection(key, Kind::Number, {}, QString("%1=%2").arg(key).arg(value), findings);
				cases++;
			}
		}
		return cases;
	}

private slots:
	void initTestCase()
	{
		f.initTestCase();
		f.freshConfig();
		ConfigRecord record;
		record.projectors.push_back(ProjectorRecord{});
		config() = record;
		defaults = saveAndRead();
		defaultProjector = defaults.value("projectors").toArray().first().toObject();
		defaults.insert("projectors", QJsonArray());
		defaults.remove("hotkeys");
		sentinel.key = "sentinel";
		sentinel.replaySeconds = 177;
	}

	void cleanupTestCase()
	{
		// The managers outlive the test: they let go of the last object and bindings they loaded.
		m->loadFromCollection(nullptr);
		m->releaseCanvas();
		HotkeyManager::instance()->unregisterAll(false);
		f.cleanupTestCase();
	}

	void init() { f.freshConfig(); }

	void cleanup()
	{
		m->setStudioMode(false);
		m->releaseCanvas();
		VerticalVolumeManager::instance()->loadFromCollection(nullptr);
		HorizontalExclusionManager::instance()->loadFromCollection(nullptr);
		f.fe.reset();
		ObsTestEnv::clearLog();
	}

	void configWithOneKeyDamaged()
	{
		Findings findings;
		QVERIFY(loadConfigText(kBaseConfig, "base", findings));
		QVERIFY2(findings.empty(), findings.summary());
		const QJsonObject base = saveAndRead();
		for (const QString &key : baseConfig.keys())
			QCOMPARE(base.value(key), baseConfig.value(key));

		int cases = 0;
		for (const QString &key : baseConfig.keys()) {
			for (const Replacement &r : replacements()) {
				const QString where = QString("%1=%2").arg(key, QString::fromUtf8(r.json.left(40)));
				cases++;
				if (loadConfigText(withValue(baseConfig, key, r.json), where, findings) &&
				    defaults.contains(key))
					checkKeyByKey(saveAndRead(), key, r.kind, base, defaults, {"width", "height"},
						      where, findings);
			}
			// A key twice: libobs refuses the whole file.
			QByteArray twice = kBaseConfig;
			twice.insert(twice.indexOf('{') + 1,
				     "\"" + key.toUtf8() + "\": " + jsonText(baseConfig.value(key)) + ",");
			loadConfigText(twice, key + " twice", findings);
			cases++;
		}

		// The same inside the first of two projectors: the second one and the other keys stay.
		const QJsonArray projectors = baseConfig.value("projectors").toArray();
		const QJsonObject first = projectors.first().toObject();
		for (const QString &key : first.keys()) {
			for (const Replacement &r : replacements()) {
				const QString where =
					QString("projectors[0].%1=%2").arg(key, QString::fromUtf8(r.json.left(40)));
				const QByteArray list =
					"[" + withValue(first, key, r.json) + "," + jsonText(projectors.at(1)) + "]";
				cases++;
				if (!loadConfigText(withValue(baseConfig, "projectors", list), where, findings))
					continue;
				const QJsonArray saved = saveAndRead().value("projectors").toArray();
				if (saved.size() != 2 || saved.at(1) != projectors.at(1))
					findings.add("other projector lost", where);
				else
					checkKeyByKey(saved.at(0).toObject(), key, r.kind, first, defaultProjector, {},
						      where, findings);
			}
		}
		qInfo("%d config.json files with one key damaged", cases);
		QVERIFY2(findings.empty(), findings.summary());
	}

	void configDamagedAtRandom()
	{
		Findings findings;
		std::mt19937 rng(20261207);
		const QByteArray base = QByteArray(kBaseConfig).simplified();
		const int cases = 1500;
		int readable = 0;
		for (int i = 0; i < cases; i++)
			readable += loadConfigText(damaged(base, rng), QString("random #%1").arg(i), findings);
		for (const char *text : {"", "[1, 2]", "\"text\"", "{}", "{\"width\": 640}"})
			loadConfigText(text, text, findings);
		qInfo("%d randomly damaged config.json files, %d of them readable", cases, readable);
		QVERIFY2(findings.empty(), findings.summary());
	}

	void collectionObjectWithOneKeyDamaged()
	{
		makeBaseCollection();
		Findings findings;
		loadCollectionText("none", Kind::Null, QJsonDocument(base.object).toJson(), "base", findings);
		QStringList keys = base.object.keys();
		keys.removeOne("width");
		keys.removeOne("height");
		int cases = damageEachKey(keys, findings);

		// Inside the list of transitions (the user's own one) and of the scene order (the first scene).
		const struct {
			const char *list;
			int index;
		} lists[] = {{"vertical_transitions", 2}, {"scene_order", 0}};
		for (const auto &list : lists) {
			QJsonArray array = base.object.value(list.list).toArray();
			const QJsonObject item = array.at(list.index).toObject();
			for (const QString &key : item.keys()) {
				for (const Replacement &r : replacements()) {
					QByteArray items;
					for (qsizetype i = 0; i < array.size(); i++)
						items += (i ? "," : "") + (i == list.index
										   ? withValue(item, key, r.json)
										   : jsonText(array.at(i)));
					loadCollectionText(list.list, r.kind,
							   withValue(base.object, list.list, "[" + items + "]"),
							   QString("%1[%2].%3=%4")
								   .arg(list.list)
								   .arg(list.index)
								   .arg(key, QString::fromUtf8(r.json.left(40))),
							   findings);
					cases++;
				}
			}
		}
		qInfo("%d collection objects with one key damaged", cases);
		QVERIFY2(findings.empty(), findings.summary());
	}

	void collectionObjectDamagedAtRandom()
	{
		makeBaseCollection();
		Findings findings;
		std::mt19937 rng(20261208);
		const QByteArray text = QJsonDocument(base.object).toJson(QJsonDocument::Compact);
		const int cases = 600;
		int readable = 0;
		for (int i = 0; i < cases; i++) {
			const QByteArray damagedText = damaged(text, rng);
			bool parsed = false;
			const QJsonObject read = throughLibobs(damagedText, &parsed);
			if (!parsed)
				continue;
			readable++;
			OBSDataAutoRelease object = obs_data_create_from_json(damagedText.constData());
			loadCollectionObject(object);
			checkCollection({}, Kind::Null, read, QString("random #%1").arg(i), findings);
		}
		qInfo("%d randomly damaged collection objects, %d of them readable", cases, readable);
		QVERIFY2(findings.empty(), findings.summary());
	}

	// Last of all: a stored size that reaches libobs unchecked makes it allocate for that size, which
	// can end the process.
	void collectionObjectWithStoredSizeDamaged()
	{
		makeBaseCollection();
		Findings findings;
		const int cases = damageEachKey({"width", "height"}, findings);
		qInfo("%d collection objects with a damaged size", cases);
		QVERIFY2(findings.empty(), findings.summary());
	}
};

STILWANE_TEST_MAIN(TestDamagedInputs)
#include "test_damaged_inputs.moc"
