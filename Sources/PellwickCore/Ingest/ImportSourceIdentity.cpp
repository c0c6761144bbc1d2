#include "ImportSourceIdentity.h"

#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/Overloaded.h>

namespace Pellwick {

namespace {

const QString volumeKey = QStringLiteral("volume");
const QString folderKey = QStringLiteral("folder");
const QString uuidKey = QStringLiteral("uuid");
const QString canonicalPathKey = QStringLiteral("canonicalPath");
const QString manifestHashKey = QStringLiteral("manifestHash");

} // namespace

QJsonObject ImportSourceIdentity::toJson() const
{
    return std::visit(Overloaded{
                          [](const Volume &v) {
                              return QJsonObject{{volumeKey, QJsonObject{{uuidKey, v.uuid}}}};
                          },
                          [](const Folder &f) {
                              return QJsonObject{{folderKey,
                                                  QJsonObject{{canonicalPathKey, f.canonicalPath},
                                                              {manifestHashKey, f.manifestHash}}}};
                          },
                      },
                      value);
}

Result<ImportSourceIdentity> ImportSourceIdentity::fromJson(const QJsonValue &json,
                                                            const QString &path)
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(json, path));
    PELLWICK_TRY_ASSIGN(QString caseKey, Json::readCaseKey(object, {volumeKey, folderKey}, path));

    const Json::ObjectReader reader(object, path);
    PELLWICK_TRY_ASSIGN(Json::ObjectReader payload, reader.object(caseKey));
    if (caseKey == volumeKey) {
        PELLWICK_TRY_ASSIGN(QString uuid, payload.string(uuidKey));
        return volume(uuid);
    }
    PELLWICK_TRY_ASSIGN(QString canonicalPath, payload.string(canonicalPathKey));
    PELLWICK_TRY_ASSIGN(QString manifestHash, payload.string(manifestHashKey));
    return folder(canonicalPath, manifestHash);
}

} // namespace Pellwick
