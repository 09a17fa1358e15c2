#include "app/windowstate.h"

#include "settings/naming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

// Far beyond what the three values need; a larger file is not ours.
constexpr qint64 kMaxStateBytes = 64 * 1024;

} // namespace

QString WindowState::defaultPath()
{
    return naming::appConfigFolder() + QStringLiteral("/windowstate.json");
}

bool WindowState::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxStateBytes)
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return false;
    const QJsonObject state = document.object();
    geometry = QByteArray::fromBase64(state.value(QLatin1String("geometry")).toString().toLatin1());
    tab = state.value(QLatin1String("tab")).toInt(tab);
    addFolder = state.value(QLatin1String("addFolder")).toString(addFolder);
    return true;
}

bool WindowState::save(const QString& path) const
{
    const QJsonObject state{{QLatin1String("geometry"), QString::fromLatin1(geometry.toBase64())},
                            {QLatin1String("tab"), tab},
                            {QLatin1String("addFolder"), addFolder}};
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(state).toJson());
    return file.commit();
}
