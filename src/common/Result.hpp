// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace stilwane {

// What became of something a user or a remote controller asked for: success, or a failure with a
// code and one sentence in two languages. The docks show the sentence in OBS's language; the remote
// control answers with the English one, which its clients log or match whatever the user's language,
// and with the code, one of obs-websocket's request status numbers so that a client reads it as it
// reads obs-websocket's own. A failure never names an internal identifier: its sentence is written
// for people.
class Result {
public:
	// obs-websocket's RequestStatus values that the plug-in's failures fit.
	enum Code : int {
		Success = 100,
		UnknownRequestType = 204,
		UnsupportedBatchExecutionType = 206,
		NotReady = 207,
		MissingRequestField = 300,
		InvalidRequestField = 400,
		InvalidRequestFieldType = 401,
		RequestFieldOutOfRange = 402,
		RequestFieldEmpty = 403,
		OutputRunning = 500,
		OutputNotRunning = 501,
		StudioModeNotActive = 506,
		ResourceNotFound = 600,
		ResourceAlreadyExists = 601,
		// Everything no other code fits.
		RequestProcessingFailed = 702,
	};

	// Success.
	Result() = default;

	// A failure said by a locale key, in the user's language and in English. %1, %2... take args as
	// they are (file paths, libobs's own words), each once: a "%2" inside an argument stays.
	static Result translated(int code, const char *key, const QStringList &args = {});
	// A failure in words that are not the plug-in's to translate, the same for both: libobs's own, or
	// the remote control's refusals, which are English and which no dock shows.
	static Result plain(int code, const QString &text);
	// A failure whose two sentences were put together elsewhere (each from failures of its language).
	static Result bilingual(int code, const QString &userText, const QString &englishText);

	bool ok() const { return resultCode == Success; }
	explicit operator bool() const { return ok(); }
	int code() const { return resultCode; }
	// Empty on success.
	QString userText() const { return user; }
	QString englishText() const { return inEnglish; }
	// ok(), with the user's words of a failure in userText when it is given.
	bool succeeded(QString *userText) const;

	// This failure, with its code, as the reason in the sentence of key whose %1 takes it
	// ("The vertical stream could not start: %1"). Success stays success.
	Result within(const char *key) const;

	// Fills %1..%9 of pattern from args in one pass.
	static QString fill(const QString &pattern, const QStringList &args);

private:
	int resultCode = Success;
	QString user;
	QString inEnglish;
};

} // namespace stilwane
