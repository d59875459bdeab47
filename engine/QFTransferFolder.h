#pragma once

// The folder of one Dropbox transfer (an upload's archive, a download and what it unpacks to): made fresh
// in the temporary folder, open to the user alone, and removed with the object, whatever it holds by then.
// Folders left by processes that ended without removing theirs (killed during a transfer) are removed when
// the next one is made. Any thread.

#include <QString>

class QFTransferFolder final {
public:
    QFTransferFolder();
    ~QFTransferFolder();
    QFTransferFolder(const QFTransferFolder &) = delete;
    QFTransferFolder &operator=(const QFTransferFolder &) = delete;

    // False when no folder could be made (the reason is logged); path() is then empty.
    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    QString filePath(const QString &name) const;

    // Removes the folders of transfers whose process has ended; returns how many went.
    static int removeStale();

private:
    QString m_path;
};
