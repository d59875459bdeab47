#include "engine/QFDropboxAccount.h"

#include "engine/QFDropboxKeychain.h"
#include "engine/QFPreferenceSnapshot.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>

#ifndef QF_DROPBOX_APP_KEY
#define QF_DROPBOX_APP_KEY ""
#endif

namespace {

const char *const kSecretService = "Secret Service";

// The record of the link: which account, and where its refresh token is kept (the token itself only when
// the Secret Service does not answer).
QString recordPath()
{
    return QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Dropbox.json");
}

// A link begun but not finished: the code verifier, so that the code may be given to a later run
// ("tombrel sync link --code").
QString pendingPath()
{
    return QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Dropbox.pending");
}

QJsonObject readRecord()
{
    QFile file(recordPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeRecord(const QJsonObject &record, const QString &path = recordPath())
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Readable by the user alone before a byte of the token is in it.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(record).toJson(QJsonDocument::Indented));
    return file.commit();
}

bool secretServiceAnswers()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QStringList names = { QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd5"),
        QStringLiteral("org.kde.kwalletd6") };
    const QStringList activatable = bus.interface()->activatableServiceNames().value();
    for (const QString &name : names) {
        if (bus.interface()->isServiceRegistered(name).value() || activatable.contains(name))
            return true;
    }
    return false;
}

// The refresh token from the Secret Service when it has answered; empty when it could not be read.
void readSecretServiceToken(QObject *context, std::function<void(const QString &token)> done)
{
    QFDropboxKeychain::read(context, [done = std::move(done)](const QFDropboxKeychain::Result &result) {
        if (!result.ok)
            QFLog::appendLog("Unable to read the Dropbox link from the Secret Service: %@", result.error);
        done(result.ok ? result.token : QString());
    });
}

// The refresh token: from the private file at once, or from the Secret Service when it has answered.
void readRefreshToken(QObject *context, std::function<void(const QString &token)> done)
{
    const QJsonObject record = readRecord();
    if (record.value(QStringLiteral("store")).toString() != QLatin1String(kSecretService)) {
        done(record.value(QStringLiteral("refresh_token")).toString());
        return;
    }
    readSecretServiceToken(context, std::move(done));
}

// Keeps the refresh token in the Secret Service, or in the private file where none answers or it refuses;
// done tells whether the record of the link could be written.
void storeRefreshToken(
    const QString &token, const QString &accountID, QObject *context, std::function<void(bool kept)> done)
{
    QJsonObject record { { QStringLiteral("account_id"), accountID } };
    const auto keepInFile = [token](QJsonObject record) {
        record.insert(QStringLiteral("store"), QStringLiteral("file"));
        record.insert(QStringLiteral("refresh_token"), token);
        return writeRecord(record);
    };
    if (!secretServiceAnswers()) {
        QFLog::appendLog(
            "No Secret Service answers; the Dropbox link is kept in %@, readable only by you.", recordPath());
        done(keepInFile(record));
        return;
    }
    QFDropboxKeychain::write(
        token, context, [record, keepInFile, done = std::move(done)](const QFDropboxKeychain::Result &result) mutable {
            if (result.ok) {
                record.insert(QStringLiteral("store"), QString::fromLatin1(kSecretService));
                done(writeRecord(record));
                return;
            }
            QFLog::appendLog("Unable to keep the Dropbox link in the Secret Service (%@); keeping it in %@ instead.",
                result.error, recordPath());
            done(keepInFile(record));
        });
}

// Removes the token from the Secret Service; the record of the link is gone already.
void forgetSecretServiceToken(QObject *context)
{
    QFDropboxKeychain::remove(context, [](const QFDropboxKeychain::Result &result) {
        if (!result.ok)
            QFLog::appendLog("Unable to remove the Dropbox link from the Secret Service: %@", result.error);
    });
}

QString base64Url(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// A changed address that would carry the tokens unencrypted is refused for Dropbox's own.
QUrl urlPreference(const QFPreferenceSnapshot &prefs, const char *key, const char *fallback)
{
    const QString value = prefs.stringValue(QString::fromLatin1(key)).trimmed();
    if (value.isEmpty())
        return QUrl(QString::fromLatin1(fallback));
    QString reason;
    if (!QFDropboxAccount::isAcceptableAddress(value, &reason)) {
        QFLog::appendLog("The preference %s is refused: %@ %s is used instead.", key, reason, fallback);
        return QUrl(QString::fromLatin1(fallback));
    }
    return QUrl(value);
}

} // namespace

bool QFDropboxAccount::isAcceptableAddress(const QString &address, QString *reason)
{
    const auto refuse = [&](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const QString host = url.host().toLower();
    if (!url.isValid() || host.isEmpty())
        return refuse(QStringLiteral("'%1' is not an address with a host.").arg(address));
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return refuse(QStringLiteral("'%1' is not an https:// address.").arg(address));
    // Plain http stays on this machine, where a test's stand-in for the service listens.
    const QString bare = host.endsWith(u'.') ? host.chopped(1) : host;
    if (bare == QLatin1String("localhost") || QHostAddress(bare).isLoopback())
        return true;
    return refuse(QStringLiteral(
        "'%1' would send the account's tokens unencrypted; only https:// is accepted (http:// only to this machine).")
                      .arg(address));
}

QFDropboxAccount::Configuration QFDropboxAccount::configuration()
{
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    Configuration config;
    config.apiURL = urlPreference(prefs, "dropboxAPIURL", "https://api.dropboxapi.com");
    config.contentURL = urlPreference(prefs, "dropboxContentURL", "https://content.dropboxapi.com");
    config.authorizeURL = urlPreference(prefs, "dropboxAuthorizeURL", "https://www.dropbox.com/oauth2/authorize");
    config.appKey = prefs.stringValue(QStringLiteral("dropboxAppKey")).trimmed();
    if (config.appKey.isEmpty())
        config.appKey = QString::fromLatin1(QF_DROPBOX_APP_KEY);
    config.timeoutSeconds = int(std::clamp<qint64>(prefs.intValue(QStringLiteral("dropboxTimeout")), 1, 3600));
    return config;
}

QFDropboxAccount::QFDropboxAccount(QObject *parent)
    : QObject(parent)
    , m_config(configuration())
{
}

QFDropboxAccount::QFDropboxAccount(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_config(configuration())
    , m_network(network ? network : &m_ownNetwork)
{
}

QFDropboxAccount::~QFDropboxAccount() = default;

void QFDropboxAccount::reloadConfiguration()
{
    m_config = configuration();
}

bool QFDropboxAccount::isLinked()
{
    const QJsonObject record = readRecord();
    return record.value(QStringLiteral("store")).toString() == QLatin1String(kSecretService)
        || !record.value(QStringLiteral("refresh_token")).toString().isEmpty();
}

QString QFDropboxAccount::tokenStorage()
{
    if (!isLinked())
        return {};
    const QString store = readRecord().value(QStringLiteral("store")).toString();
    return store == QLatin1String(kSecretService) ? store : recordPath();
}

QUrl QFDropboxAccount::endpoint(bool content, const QString &path) const
{
    QUrl url = content ? m_config.contentURL : m_config.apiURL;
    QString base = url.path();
    while (base.endsWith(u'/'))
        base.chop(1);
    url.setPath(base + path);
    return url;
}

QString QFDropboxAccount::beginLink(QString *error)
{
    m_config = configuration();
    if (m_config.appKey.isEmpty()) {
        if (error)
            *error = QStringLiteral("No Dropbox app key is configured: set the preference dropboxAppKey.");
        return {};
    }
    // A verifier of 64 unreserved characters, as PKCE asks (43 to 128).
    static const char kUnreserved[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    m_verifier.clear();
    for (int i = 0; i < 64; ++i)
        m_verifier += QLatin1Char(kUnreserved[QRandomGenerator::system()->bounded(int(sizeof kUnreserved - 1))]);
    writeRecord(
        { { QStringLiteral("verifier"), m_verifier }, { QStringLiteral("app_key"), m_config.appKey } }, pendingPath());
    const QString challenge = base64Url(QCryptographicHash::hash(m_verifier.toLatin1(), QCryptographicHash::Sha256));
    QUrl url = m_config.authorizeURL;
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("client_id"), m_config.appKey);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("code_challenge"), challenge);
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("token_access_type"), QStringLiteral("offline"));
    url.setQuery(query);
    return url.toString(QUrl::FullyEncoded);
}

void QFDropboxAccount::exchange(const QList<std::pair<QString, QString>> &form,
    std::function<void(bool, int, const QJsonObject &, const QString &)> done)
{
    QUrlQuery body;
    for (const auto &[name, value] : form)
        body.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    QNetworkRequest request(endpoint(false, QStringLiteral("/oauth2/token")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(m_config.timeoutSeconds * 1000);
    QNetworkReply *reply = m_network->post(request, body.query(QUrl::FullyEncoded).toLatin1());
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        if (status == 200) {
            done(true, status, answer, QString());
            return;
        }
        QString error = answer.value(QStringLiteral("error_description")).toString();
        if (error.isEmpty())
            error = answer.value(QStringLiteral("error")).toString();
        if (error.isEmpty())
            error = reply->errorString();
        done(false, status == 0 ? 0 : status, answer, status == 0 ? QString::number(int(reply->error())) : error);
    });
}

void QFDropboxAccount::finishLink(const QString &code, std::function<void(bool, const QString &)> done)
{
    const QString trimmed = code.trimmed();
    if (m_verifier.isEmpty()) {
        QFile pending(pendingPath());
        if (pending.open(QIODevice::ReadOnly))
            m_verifier
                = QJsonDocument::fromJson(pending.readAll()).object().value(QStringLiteral("verifier")).toString();
    }
    if (m_verifier.isEmpty() || trimmed.isEmpty()) {
        done(false,
            trimmed.isEmpty() ? QStringLiteral("No code was given.") : QStringLiteral("The link was not started."));
        return;
    }
    exchange(
        { { QStringLiteral("grant_type"), QStringLiteral("authorization_code") }, { QStringLiteral("code"), trimmed },
            { QStringLiteral("code_verifier"), m_verifier }, { QStringLiteral("client_id"), m_config.appKey } },
        [this, done = std::move(done)](bool ok, int, const QJsonObject &answer, const QString &error) {
            if (!ok) {
                done(false, error);
                return;
            }
            const QString refresh = answer.value(QStringLiteral("refresh_token")).toString();
            if (refresh.isEmpty()) {
                done(false, QStringLiteral("Dropbox gave no refresh token."));
                return;
            }
            storeRefreshToken(refresh, answer.value(QStringLiteral("account_id")).toString(), this,
                [this, done, access = answer.value(QStringLiteral("access_token")).toString()](bool kept) {
                    if (!kept) {
                        done(false, QStringLiteral("Unable to keep the link: %1 cannot be written.").arg(recordPath()));
                        return;
                    }
                    m_verifier.clear();
                    QFile::remove(pendingPath());
                    m_accessToken = access;
                    QFLog::appendLog("App linked successfully!");
                    Q_EMIT linkChanged(true);
                    done(true, QString());
                });
        });
}

void QFDropboxAccount::refreshAccessToken(std::function<void(bool, int, const QString &)> done)
{
    m_config = configuration();
    readRefreshToken(this, [this, done = std::move(done)](const QString &refresh) mutable {
        if (refresh.isEmpty()) {
            done(false, 401, QStringLiteral("No Dropbox account is linked."));
            return;
        }
        exchange({ { QStringLiteral("grant_type"), QStringLiteral("refresh_token") },
                     { QStringLiteral("refresh_token"), refresh }, { QStringLiteral("client_id"), m_config.appKey } },
            [this, done = std::move(done)](bool ok, int status, const QJsonObject &answer, const QString &error) {
                if (ok)
                    m_accessToken = answer.value(QStringLiteral("access_token")).toString();
                // A refused refresh token means the user must link again: an authentication failure.
                done(ok && !m_accessToken.isEmpty(), status == 400 ? 401 : status, error);
            });
    });
}

void QFDropboxAccount::unlink(std::function<void()> done)
{
    // The link is forgotten here at once; revoking the tokens at Dropbox follows when it answers. A token
    // kept in the Secret Service is read there first where no access token serves, then removed.
    const QJsonObject record = readRecord();
    const bool inSecretService = record.value(QStringLiteral("store")).toString() == QLatin1String(kSecretService);
    const QString access = m_accessToken;
    QFile::remove(recordPath());
    m_accessToken.clear();
    QFLog::appendLog("Dropbox account unlinked.");
    Q_EMIT linkChanged(false);

    // An endpoint without arguments takes the JSON null; the token to end is the one that authorizes it.
    auto revoke = [this, done](const QString &token) {
        QNetworkRequest request(endpoint(false, QStringLiteral("/2/auth/token/revoke")));
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        request.setTransferTimeout(m_config.timeoutSeconds * 1000);
        QNetworkReply *reply = m_network->post(request, QByteArrayLiteral("null"));
        connect(reply, &QNetworkReply::finished, this, [reply, done] {
            reply->deleteLater();
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (status != 200) {
                const QByteArray body = reply->readAll();
                QString reason
                    = QJsonDocument::fromJson(body).object().value(QStringLiteral("error_summary")).toString();
                if (reason.isEmpty())
                    reason = status == 0 ? reply->errorString() : QString::fromUtf8(body.left(300)).trimmed();
                if (reason.isEmpty())
                    reason = QStringLiteral("HTTP %1").arg(status);
                QFLog::appendLog("Unable to revoke the Dropbox link (%@); it stays valid until it is removed from the "
                                 "account's connected apps.",
                    reason);
            }
            if (done)
                done();
        });
    };
    auto revokeByRefresh = [this, revoke, done](const QString &refresh) {
        if (refresh.isEmpty()) {
            if (done)
                done();
            return;
        }
        exchange({ { QStringLiteral("grant_type"), QStringLiteral("refresh_token") },
                     { QStringLiteral("refresh_token"), refresh }, { QStringLiteral("client_id"), m_config.appKey } },
            [revoke, done](bool ok, int, const QJsonObject &answer, const QString &error) {
                if (ok) {
                    revoke(answer.value(QStringLiteral("access_token")).toString());
                    return;
                }
                QFLog::appendLog("Unable to revoke the Dropbox link (%@); it stays valid until it is removed from the "
                                 "account's connected apps.",
                    error);
                if (done)
                    done();
            });
    };
    if (!inSecretService) {
        if (!access.isEmpty())
            revoke(access);
        else
            revokeByRefresh(record.value(QStringLiteral("refresh_token")).toString());
        return;
    }
    // The keychain answers in the order asked: the token is read before it is removed.
    if (access.isEmpty())
        readSecretServiceToken(this, revokeByRefresh);
    forgetSecretServiceToken(this);
    if (!access.isEmpty())
        revoke(access);
}
