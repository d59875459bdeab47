#include "foundation/QFAlert.h"

#include "foundation/ui/QFAlertPresenter.h"
#include "tests/support/QFTempHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class QFAlertTest : public TempHomeTest {
protected:
    void SetUp() override { qfInstallWidgetAlerts(); }
    void TearDown() override { QFAlert::setPresenter({}); }

    static QMessageBox *shownBox()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                return box;
        }
        return nullptr;
    }
    static void press(QMessageBox *box, const QString &title)
    {
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == title)
                button->click();
        }
    }
};

} // namespace

TEST_F(QFAlertTest, BlockingFromAWorkerThreadWaitsForTheAnswer)
{
    QWidget window;
    window.show();
    std::atomic<int> answer { 99 };
    std::atomic<bool> done { false };
    std::thread worker([&] {
        answer = QFAlert::alertSheetWithMessageText(QStringLiteral("Delete version?"), QStringLiteral("Delete"),
            QStringLiteral("Cancel"), QString(), QStringLiteral("100% sure"), &window, true);
        done = true;
    });
    QMessageBox *box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (box = shownBox()) != nullptr; }, 10000));
    EXPECT_EQ(box->parentWidget(), &window);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->informativeText(), QStringLiteral("100% sure"));
    press(box, QStringLiteral("Cancel"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_EQ(answer, QFAlert::kAlternateReturn);
}

TEST_F(QFAlertTest, BlockingOnTheMainThreadAndNonBlocking)
{
    QWidget window;
    window.show();
    QTimer::singleShot(0, [&] {
        (void)QTest::qWaitFor([&] { return shownBox() != nullptr; }, 10000);
        if (QMessageBox *box = shownBox())
            press(box, QStringLiteral("OK"));
    });
    EXPECT_EQ(QFAlert::alertSheetWithMessageText(QStringLiteral("Backup failed"), QStringLiteral("Disk full"), &window),
        QFAlert::kDefaultReturn);

    int delivered = 99;
    EXPECT_EQ(QFAlert::alertSheetWithMessageText(QStringLiteral("Q"), QStringLiteral("Yes"), QStringLiteral("No"),
                  QStringLiteral("Later"), QString(), &window, false, [&](int code) { delivered = code; }),
        -1);
    QMessageBox *box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (box = shownBox()) != nullptr; }, 10000));
    press(box, QStringLiteral("Later"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return delivered != 99; }, 10000));
    EXPECT_EQ(delivered, QFAlert::kOtherReturn);
}

TEST_F(QFAlertTest, WithoutWindowsTheDefaultAnswerIsGiven)
{
    QFAlert::setPresenter({});
    EXPECT_EQ(QFAlert::alertSheetWithMessageText(QStringLiteral("Q"), QStringLiteral("Yes"), QStringLiteral("No"),
                  QString(), QString(), nullptr, true),
        1);
    int delivered = 0;
    EXPECT_EQ(QFAlert::alertSheetWithMessageText(QStringLiteral("Q"), QString(), QString(), QString(), QString(),
                  nullptr, false, [&](int c) { delivered = c; }),
        -1);
    EXPECT_EQ(delivered, 1);
}
