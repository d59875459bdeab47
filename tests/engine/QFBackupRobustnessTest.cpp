// What must hold when backups are interrupted or race each other, with the real tombrel program.

#include "engine/QFTombrelBackup.h"

#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using Builder = QFVersionStoreBuilder;

QString tombrel()
{
    return qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/tombrel");
}

class QFBackupRobustnessTest : public TempHomeTest {
protected:
    QStringList hiddenEntries(const QString &versions) const
    {
        QStringList names = QDir(versions).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        names.erase(std::remove_if(names.begin(), names.end(), [](const QString &n) { return !n.startsWith(u'.'); }),
            names.end());
        return names;
    }
    QStringList visibleEntries(const QString &versions) const
    {
        QStringList names = QDir(versions).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
        return names;
    }
};

} // namespace

TEST_F(QFBackupRobustnessTest, AKilledCopyLeavesNoVersionAndTheNextBackupClearsUp)
{
    const QString project = home.file(QStringLiteral("Projects/Big.prproj"));
    QDir().mkpath(home.file(QStringLiteral("Projects")));
    {
        QFile file(project);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < 1024; ++i) {
            for (qsizetype j = 0; j < block.size(); j += 8)
                *reinterpret_cast<quint64 *>(block.data() + j) = QRandomGenerator::global()->generate64();
            ASSERT_EQ(file.write(block), block.size());
        }
    }
    Builder::setModified(project, QDateTime::currentDateTime().addSecs(-60));
    const QString folder = Builder::addProject(project, QStringLiteral("BIG"));
    const QString versions = folder + QStringLiteral("/Versions");
    const qint64 total = QFileInfo(project).size();

    bool killedMidway = false;
    for (int attempt = 0; attempt < 3 && !killedMidway; ++attempt) {
        QDir(versions).removeRecursively();
        QProcess backup;
        backup.start(tombrel(), { QStringLiteral("backup"), QStringLiteral("BIG") });
        ASSERT_TRUE(backup.waitForStarted(10000));
        QElapsedTimer clock;
        clock.start();
        qint64 seen = -1;
        while (clock.elapsed() < 60000 && backup.state() == QProcess::Running) {
            const QStringList hidden = hiddenEntries(versions);
            if (!hidden.isEmpty()) {
                seen = QFileInfo(versions + u'/' + hidden.first()).size();
                if (seen > 0)
                    break;
            }
            QThread::usleep(500);
        }
        backup.kill();
        backup.waitForFinished(10000);
        if (seen <= 0 || seen > total / 2)
            continue; // caught too late to tell; try again
        killedMidway = true;
        EXPECT_TRUE(visibleEntries(versions).isEmpty()) << "a cut-off copy is never a version";
    }
    ASSERT_TRUE(killedMidway) << "never caught the copy in its first half";
    EXPECT_FALSE(hiddenEntries(versions).isEmpty());

    QProcess again;
    again.start(tombrel(), { QStringLiteral("backup"), QStringLiteral("BIG") });
    ASSERT_TRUE(again.waitForFinished(120000));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().constData();
    EXPECT_TRUE(hiddenEntries(versions).isEmpty()) << "the leftover of the killed copy is gone";
    ASSERT_EQ(visibleEntries(versions), QStringList { QStringLiteral("Big.00001.prproj") });
    EXPECT_EQ(QFileInfo(versions + QStringLiteral("/Big.00001.prproj")).size(), total);
}

TEST_F(QFBackupRobustnessTest, TwoProgramsBackingUpTheSameChangingProjectMakeDistinctCompleteVersions)
{
    constexpr int kPerProgram = 50;
    constexpr int kSize = 64 * 1024;
    const QString project = home.file(QStringLiteral("Projects/Race.prproj"));
    const auto contentFor = [](int state) {
        QByteArray body = "state " + QByteArray::number(state) + '\n';
        body += QByteArray(kSize - body.size(), char('a' + state % 26));
        return body;
    };
    const auto writeState = [&](int state) {
        // Replaced whole, like an editor's save, and dated in the past so nothing waits for it.
        const QString temporary = project + QStringLiteral(".tmp");
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(contentFor(state));
        file.close();
        Builder::setModified(temporary, QDateTime::currentDateTime().addSecs(-60));
        ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(project).constData());
    };
    QDir().mkpath(home.file(QStringLiteral("Projects")));
    writeState(0);
    const QString folder = Builder::addProject(project, QStringLiteral("RACE"));
    const QString versions = folder + QStringLiteral("/Versions");

    std::atomic<bool> done { false };
    std::thread writer([&] {
        for (int state = 1; !done; ++state) {
            writeState(state);
            QThread::msleep(3);
        }
    });
    std::atomic<int> failures { 0 };
    const auto program = [&] {
        for (int i = 0; i < kPerProgram; ++i) {
            QProcess backup;
            backup.start(tombrel(), { QStringLiteral("backup"), QStringLiteral("RACE") });
            if (!backup.waitForFinished(60000) || backup.exitCode() != 0)
                ++failures;
        }
    };
    std::thread first(program), second(program);
    first.join();
    second.join();
    done = true;
    writer.join();

    EXPECT_EQ(failures.load(), 0);
    const QStringList names = visibleEntries(versions);
    ASSERT_EQ(names.size(), 2 * kPerProgram);
    for (int i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(qPrintable(names[i]));
        EXPECT_EQ(names[i], QStringLiteral("Race.%1.prproj").arg(i + 1, 5, 10, QLatin1Char('0')));
        QFile file(versions + u'/' + names[i]);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        const int state = content.mid(6, content.indexOf('\n') - 6).toInt();
        EXPECT_EQ(content, contentFor(state)) << "every version is one whole save";
    }
    EXPECT_TRUE(hiddenEntries(versions).isEmpty());
}
