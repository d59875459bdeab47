#include "cli/Progress.h"

#include <QFile>
#include <QThread>

#include <algorithm>
#include <unistd.h>

namespace {

constexpr qint64 kQuietMs = 1000;
constexpr int kWidth = 30;

} // namespace

Progress::Progress(QTextStream &stream, const QString &label, qint64 total)
    : m_stream(stream)
    , m_label(label)
    , m_total(total)
    , m_enabled(isTerminal(stream))
{
    m_clock.start();
}

Progress::~Progress()
{
    finish();
}

bool Progress::isTerminal(QTextStream &stream)
{
    const auto *file = qobject_cast<QFile *>(stream.device());
    return file && file->handle() >= 0 && ::isatty(file->handle()) == 1;
}

void Progress::setDone(qint64 done)
{
    m_done = done;
    draw();
}

void Progress::tick()
{
    ++m_phase;
    draw();
}

void Progress::finish()
{
    if (!m_drawn)
        return;
    m_stream << "\r\033[K";
    m_stream.flush();
    m_drawn = false;
}

void Progress::draw()
{
    if (!m_enabled || m_clock.elapsed() < kQuietMs)
        return;
    QString bar(kWidth, u' ');
    QString count;
    if (m_total > 0) {
        const qint64 filled = std::clamp<qint64>(m_done * kWidth / m_total, 0, kWidth);
        bar.replace(0, int(filled), QString(int(filled), u'#'));
        count = QStringLiteral(" %1/%2").arg(m_done).arg(m_total);
    } else {
        // A short block going back and forth.
        const int span = kWidth - 4;
        const int step = m_phase % (2 * span);
        const int at = step < span ? step : 2 * span - step;
        bar.replace(at, 4, QStringLiteral("####"));
    }
    m_stream << "\r" << m_label << " [" << bar << "]" << count << "\033[K";
    m_stream.flush();
    m_drawn = true;
}

void Progress::run(QTextStream &stream, const QString &label, const std::function<void()> &work)
{
    if (!isTerminal(stream)) {
        work();
        return;
    }
    QThread *worker = QThread::create(work);
    worker->start();
    Progress bar(stream, label);
    while (!worker->wait(100))
        bar.tick();
    bar.finish();
    delete worker;
}
