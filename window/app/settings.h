#pragma once
// The per-user settings store: text values addressed by application key,
// section and key. Every write reaches the disk at once and every read sees
// the latest writes, also those of another running copy of the program.
//
// The store is the file "Ostrakon.ini" in the user's configuration folder. A
// folder, pipe or device of that name makes the store unusable: reads yield
// the defaults (a pipe is never opened, so start-up cannot block on it) and
// writes fail with error 75.
#include <QString>
#include <QVariant>

#include <functional>

// Application key and section that every value of the program uses.
inline constexpr const char kSettingsApp[] = "Ostrakon";
inline constexpr const char kSettingsSection[] = "Brenvale";

// The stored text, also when it is empty; the default only when the key is
// absent. A numeric default comes back as its decimal text, a Boolean one as
// "True" or "False".
QString GetSetting(const QString& app, const QString& section, const QString& key,
                   const QVariant& defaultValue = QVariant());
// The same with a default that is worked out only when the key is absent.
QString GetSettingOrElse(const QString& app, const QString& section, const QString& key,
                         const std::function<QVariant()>& defaultValue);

// Stores the text, replacing any earlier value. Raises an error when the
// store cannot be written.
void SaveSetting(const QString& app, const QString& section, const QString& key, const QString& value);

// The program's own values.
QString GetBrenvaleSetting(const QString& key, const QVariant& defaultValue = QVariant());
QString GetBrenvaleSettingOrElse(const QString& key, const std::function<QVariant()>& defaultValue);
void SaveBrenvaleSetting(const QString& key, const QString& value);

// Converts a stored text to a truth value: "True"/"False" in any letter
// case, or a number (0 is false). Anything else is a type mismatch (13).
bool TextToBool(const QString& text);

// The text a truth value is stored as.
inline QString BoolText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}
