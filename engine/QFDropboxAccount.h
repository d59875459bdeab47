#pragma once

// The link to one Dropbox account: OAuth 2 with PKCE and offline access. Linking gives the address of the
// authorisation page; the code that page shows is exchanged for a refresh token, which is kept in the
// desktop's Secret Service or, where none answers, in a file only the user can read (never in the
// preference file). Access tokens are short-lived and kept in memory only. Main thread only.

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QFDropboxAccount final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFDropboxAccount)
public:
    // The addresses and the app key, from the preference file; absent keys give Dropbox's own addresses and
    // the app key the program was built with.
    struct Configuration {
        QUrl apiURL;
        QUrl contentURL;
        QUrl authorizeURL;
        QString appKey;
        int timeoutSeconds = 60;
    };
    // A preferred address that is not https:// (or http:// to this machine) is refused with a log line, and
    // Dropbox's own address used instead.
    static Configuration configuration();
    // Whether an address may carry the account's tokens: https://, or http:// to a loopback host
    // (127.0.0.0/8, ::1, localhost). The reason when not.
    static bool isAcceptableAddress(const QString &address, QString *reason = nullptr);

    explicit QFDropboxAccount(QObject *parent = nullptr);
    // Sends every request through network, which the caller owns and which outlives the account (tests
    // answer from memory this way).
    explicit QFDropboxAccount(QNetworkAccessManager *network, QObject *parent = nullptr);
    ~QFDropboxAccount() override;

    const Configuration &config() const { return m_config; }
    void reloadConfiguration();
    QNetworkAccessManager *network() { return m_network; }

    // Whether a refresh token is kept for an account.
    static bool isLinked();
    // Where the refresh token is kept: "Secret Service" or the file's path; empty when not linked.
    static QString tokenStorage();

    // Starts a link: a fresh code verifier, and the address of the page that asks the user to allow access.
    // Empty, with the reason, when no app key is configured.
    QString beginLink(QString *error = nullptr);
    // Exchanges the code the page showed for the account's tokens and keeps the refresh token.
    void finishLink(const QString &code, std::function<void(bool linked, const QString &error)> done);
    // Forgets the link at once, then revokes its tokens at Dropbox (done follows the answer).
    void unlink(std::function<void()> done);

    QString accessToken() const { return m_accessToken; }
    void clearAccessToken() { m_accessToken.clear(); }
    // A new access token from the refresh token. status: the HTTP status of a refusal, or 0 for a network
    // failure (error then holds the network error's code as text).
    void refreshAccessToken(std::function<void(bool ok, int status, const QString &error)> done);

    // Builds a request to an endpoint of the API ("api") or content ("content") host, with the access token.
    QUrl endpoint(bool content, const QString &path) const;

Q_SIGNALS:
    void linkChanged(bool linked);

private:
    void exchange(const QList<std::pair<QString, QString>> &form,
        std::function<void(bool ok, int status, const QJsonObject &answer, const QString &error)> done);

    Configuration m_config;
    QNetworkAccessManager m_ownNetwork;
    QNetworkAccessManager *m_network = &m_ownNetwork;
    QString m_verifier;
    QString m_accessToken;
};
