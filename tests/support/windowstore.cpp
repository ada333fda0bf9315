// The settings store of the test environment: the window's.
#include "app/settings.h"
#include "support/testenv.h"

#include <QSettings>

QString TestEnvironment::settingsFile() const {
    return dir_->path() + QStringLiteral("/config/") + QLatin1String(kSettingsApp) + QStringLiteral(".ini");
}

void TestEnvironment::storeRaw(const QString& key, const QString& value) {
    QSettings store(settingsFile(), QSettings::IniFormat);
    store.setValue(QLatin1String(kSettingsSection) + QLatin1Char('/') + key, value);
    store.sync();
}

bool TestEnvironment::storeContains(const QString& key) const {
    QSettings store(settingsFile(), QSettings::IniFormat);
    return store.contains(QLatin1String(kSettingsSection) + QLatin1Char('/') + key);
}

