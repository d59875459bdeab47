#include "engine/QFDropboxClient.h"

#include <QFile>

#include <algorithm>

// --- Content hash -------------------------------------------------------------------------------------

void QFDropboxContentHasher::addData(QByteArrayView data)
{
    while (!data.isEmpty()) {
        const qint64 take = std::min<qint64>(data.size(), kBlockSize - m_inBlock);
        m_block.addData(data.first(take));
        m_inBlock += take;
        data = data.sliced(take);
        if (m_inBlock == kBlockSize) {
            m_overall.addData(m_block.result());
            m_block.reset();
            m_inBlock = 0;
        }
    }
}

QString QFDropboxContentHasher::result()
{
    if (m_inBlock > 0) {
        m_overall.addData(m_block.result());
        m_block.reset();
        m_inBlock = 0;
    }
    return QString::fromLatin1(m_overall.result().toHex());
}

QString QFDropboxContentHasher::hashOfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QFDropboxContentHasher hasher;
    while (!file.atEnd()) {
        const QByteArray piece = file.read(kBlockSize);
        if (piece.isEmpty())
            return {};
        hasher.addData(piece);
    }
    return hasher.result();
}
