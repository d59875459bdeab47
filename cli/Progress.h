#pragma once

// A progress bar on a stream for work that lasts over a second: nothing is drawn before a second has
// passed, nor ever when the stream is not a terminal (a file, a pipe, a test's string), so output
// meant for scripts stays clean. Use it from one thread.

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

#include <functional>

class Progress final {
public:
    // total 0: the end is unknown, a turning bar is drawn instead of a filling one.
    Progress(QTextStream &stream, const QString &label, qint64 total = 0);
    ~Progress();
    Q_DISABLE_COPY_MOVE(Progress)

    void setDone(qint64 done);
    // Redraws a turning bar (total 0).
    void tick();
    // Clears the bar's line; drawing again is possible afterwards.
    void finish();

    // Whether the stream writes to a terminal.
    static bool isTerminal(QTextStream &stream);
    // Runs work on a worker thread while a turning bar is drawn; inline when the stream is no terminal.
    static void run(QTextStream &stream, const QString &label, const std::function<void()> &work);

private:
    void draw();

    QTextStream &m_stream;
    QString m_label;
    qint64 m_total;
    qint64 m_done = 0;
    int m_phase = 0;
    bool m_enabled;
    bool m_drawn = false;
    QElapsedTimer m_clock;
};
