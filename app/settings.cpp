#include "app/settings.h"

#include "app/errorreport.h"

#include <QSettings>

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

}  // namespace

QString GetSetting(const QString& app, const QString& section, const QString& key,
                   const QVariant& defaultValue) {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, app);
    store.sync();  // pick up what another copy of the program wrote meanwhile
    const QString storeKey = StoreKey(section, key);
    if (!store.contains(storeKey))
        return DefaultText(defaultValue);
    const QVariant value = store.value(storeKey);
    // A hand-edited value with commas reads back as a list; keep its text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void SaveSetting(const QString& app, const QString& section, const QString& key, const QString& value) {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, app);
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

void SaveBrenvaleSetting(const QString& key, const QString& value) {
    SaveSetting(QLatin1String(kSettingsApp), QLatin1String(kSettingsSection), key, value);
}

bool TextToBool(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (isNumber)
        return number != 0.0;
    RaiseError(13);
}
