// SPDX-License-Identifier: GPL-2.0-or-later
#include <common/Result.hpp>

#include <common/Module.hpp>

namespace stilwane {

Result Result::translated(int code, const char *key, const QStringList &args)
{
	Result result;
	result.resultCode = code;
	result.user = fill(translate(key), args);
	result.inEnglish = fill(translateEnglish(key), args);
	return result;
}

Result Result::bilingual(int code, const QString &userText, const QString &englishText)
{
	Result result;
	result.resultCode = code;
	result.user = userText;
	result.inEnglish = englishText;
	return result;
}

Result Result::plain(int code, const QString &text)
{
	Result result;
	result.resultCode = code;
	result.user = text;
	result.inEnglish = text;
	return result;
}

bool Result::succeeded(QString *userText) const
{
	if (!ok() && userText)
		*userText = user;
	return ok();
}

Result Result::within(const char *key) const
{
	if (ok())
		return *this;
	Result result;
	result.resultCode = resultCode;
	result.user = fill(translate(key), {user});
	result.inEnglish = fill(translateEnglish(key), {inEnglish});
	return result;
}

QString Result::fill(const QString &pattern, const QStringList &args)
{
	QString text;
	text.reserve(pattern.size());
	for (qsizetype i = 0; i < pattern.size(); ++i) {
		const QChar c = pattern.at(i);
		if (c == QLatin1Char('%') && i + 1 < pattern.size()) {
			const int n = pattern.at(i + 1).digitValue();
			if (n >= 1 && n <= args.size()) {
				text += args.at(n - 1);
				++i;
				continue;
			}
		}
		text += c;
	}
	return text;
}

} // namespace stilwane
