#include "app/settings.h"

#include "runtime/errors.h"
#include "runtime/filehelpers.h"

#include <QSettings>
#include <QStandardPaths>

#include <cmath>

#include <sys/stat.h>

namespace {

QString DefaultText(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return QString();
    if (value.typeId() == QMetaType::Bool)
        return BoolText(value.toBool());
    return value.toString();
}

QString StoreKey(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

// The store's file: "APP.ini" in the user's configuration folder
// ($XDG_CONFIG_HOME, by default ~/.config).
QString StoreFile(const QString& app) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') + app +
           QStringLiteral(".ini");
}

// True when something other than a regular file (after links) stands where
// the store's file belongs: a folder, a pipe, a device or a socket. Such a
// store is never opened, since reading a pipe would block for ever; its
// reads yield the defaults and its writes fail.
bool IsUnusableStore(const QString& file) {
    struct stat st {};
    if (::stat(SystemPath(file).c_str(), &st) != 0)
        return false;  // a missing file is an empty store
    return !S_ISREG(st.st_mode);
}

}  // namespace

QString GetSettingOrElse(const QString& app, const QString& section, const QString& key,
                         const std::function<QVariant()>& defaultValue) {
    const QString file = StoreFile(app);
    if (!IsUnusableStore(file)) {
        QSettings store(file, QSettings::IniFormat);  // reads what another copy wrote meanwhile
        const QString storeKey = StoreKey(section, key);
        if (store.contains(storeKey)) {
            const QVariant value = store.value(storeKey);
            // A hand-edited value with commas reads back as a list; keep its text.
            if (value.typeId() == QMetaType::QStringList)
                return value.toStringList().join(QLatin1Char(','));
            return value.toString();
        }
    }
    return defaultValue ? DefaultText(defaultValue()) : QString();
}

QString GetSetting(const QString& app, const QString& section, const QString& key,
                   const QVariant& defaultValue) {
    return GetSettingOrElse(app, section, key, [&defaultValue] { return defaultValue; });
}

void SaveSetting(const QString& app, const QString& section, const QString& key, const QString& value) {
    const QString file = StoreFile(app);
    if (IsUnusableStore(file))
        RaiseError(75);
    QSettings store(file, QSettings::IniFormat);
    if (!store.isWritable())
        RaiseError(70);
    store.setValue(StoreKey(section, key), value);
    store.sync();
    if (store.status() != QSettings::NoError)
        RaiseError(store.status() == QSettings::AccessError ? 70 : 75);
}

QString GetBrenvaleSetting(const QString& key, const QVariant& defaultValue) {
    return GetSetting(QLatin1String(kSettingsApp), QLatin1String(kSettingsSection), key, defaultValue);
}

QString GetBrenvaleSettingOrElse(const QString& key, const std::function<QVariant()>& defaultValue) {
    return GetSettingOrElse(QLatin1String(kSettingsApp), QLatin1String(kSettingsSection), key, defaultValue);
}

void SaveBrenvaleSetting(const QString& key, const QString& value) {
    SaveSetting(QLatin1String(kSettingsApp), QLatin1String(kSettingsSection), key, value);
}

bool TextToBool(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    // A number is a finite one: "nan", "inf" and "-inf" are words like any
    // other.
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (isNumber && std::isfinite(number))
        return number != 0.0;
    RaiseError(13);
}
