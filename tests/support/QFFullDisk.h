#pragma once

// A full disk for the duration of a scope, without root: the file-size limit of this process is lowered
// so that every write beyond `bytes` fails (EFBIG) as writes fail on a full file system, with SIGXFSZ
// ignored so the failure is returned instead of ending the process. Other threads of the process (the
// log writer) meet the same limit while it lasts.

#include <csignal>
#include <sys/resource.h>

class QFFullDisk {
public:
    explicit QFFullDisk(rlim_t bytes = 0)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~QFFullDisk()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    QFFullDisk(const QFFullDisk &) = delete;
    QFFullDisk &operator=(const QFFullDisk &) = delete;

private:
    struct rlimit m_saved { };
    void (*m_oldHandler)(int) = nullptr;
};
