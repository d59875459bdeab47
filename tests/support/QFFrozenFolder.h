#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// A folder whose entries cannot be removed while it lasts: immutable for root (whom modes do not stop),
// read-only for others. frozen() is false where neither holds (then the test skips).
class FrozenFolder {
public:
    explicit FrozenFolder(const QString &folder)
        : m_folder(QFile::encodeName(folder))
    {
        if (::geteuid() == 0)
            m_immutable = setImmutable(true);
        else
            ::chmod(m_folder.constData(), 0555);
        const QByteArray probe = m_folder + "/.probe";
        const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        m_frozen = fd < 0;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.constData());
        }
    }
    ~FrozenFolder()
    {
        if (m_immutable)
            setImmutable(false);
        ::chmod(m_folder.constData(), 0755);
    }
    bool frozen() const { return m_frozen; }
    // Lets changes through for a moment (what the administrator could do) and freezes again.
    template <typename Work> auto whileThawed(Work work)
    {
        if (m_immutable)
            setImmutable(false);
        ::chmod(m_folder.constData(), 0755);
        auto result = work();
        if (m_immutable)
            setImmutable(true);
        else
            ::chmod(m_folder.constData(), 0555);
        return result;
    }

private:
    bool setImmutable(bool on)
    {
        const int fd = ::open(m_folder.constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }
    QByteArray m_folder;
    bool m_immutable = false;
    bool m_frozen = false;
};
