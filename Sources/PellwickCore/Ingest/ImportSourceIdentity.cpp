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
    Result<QJsonObject> object = Json::readObject(json, path);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    Result<QString> caseKey = Json::readCaseKey(*object, {volumeKey, folderKey}, path);
    if (!caseKey)
        return tl::unexpected<Error>(std::move(caseKey).error());

    const Json::ObjectReader reader(*object, path);
    Result<Json::ObjectReader> payload = reader.object(*caseKey);
    if (!payload)
        return tl::unexpected<Error>(std::move(payload).error());
    if (*caseKey == volumeKey) {
        Result<QString> uuid = payload->string(uuidKey);
        if (!uuid)
            return tl::unexpected<Error>(std::move(uuid).error());
        return volume(*uuid);
    }
    Result<QString> canonicalPath = payload->string(canonicalPathKey);
    if (!canonicalPath)
        return tl::unexpected<Error>(std::move(canonicalPath).error());
    Result<QString> manifestHash = payload->string(manifestHashKey);
    if (!manifestHash)
        return tl::unexpected<Error>(std::move(manifestHash).error());
    return folder(*canonicalPath, *manifestHash);
}

} // namespace Pellwick
