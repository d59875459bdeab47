#include "tests/app/AppTestSupport.h"

#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace apptest {

void writeScreenshot(const QString &path, const QColor &colour, const QString &caption, int width)
{
    QImage image(width, width * 10 / 16, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, image.height());
    gradient.setColorAt(0, colour.lighter(130));
    gradient.setColorAt(1, colour.darker(160));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(QColor(255, 255, 255, 200));
    QFont font;
    font.setPixelSize(width / 14);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, caption);
    painter.end();
    QDir().mkpath(QFileInfo(path).absolutePath());
    image.save(path, "JPG", 85);
}

QByteArray xmlFixture(const QString &name)
{
    QFile file(fixturePath(QStringLiteral("xmeml/") + name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString buildSampleStore(const QString &home)
{
    const QDateTime base = QDateTime::currentDateTimeUtc().addDays(-2);
    const QString cut = QFVersionStoreBuilder::addProject(
        home + QStringLiteral("/Videos/Wedding Cut.fcp"), QStringLiteral("WEDDING"));
    QFVersionStoreBuilder::addVersions(cut,
        {
            { QStringLiteral("Wedding Cut.00001.fcp"), base, "binary 1" },
            { QStringLiteral("Wedding Cut.00001.xml"), base, xmlFixture(QStringLiteral("fcp_sample.xml")) },
            { QStringLiteral("Wedding Cut.00002.fcp"), base.addSecs(3600), "binary 2" },
            { QStringLiteral("Wedding Cut.00002.xml"), base.addSecs(3600), xmlFixture(QStringLiteral("markp.xml")) },
            { QStringLiteral("Wedding Cut.00003.fcp"), base.addSecs(7200), "binary 3" },
            { QStringLiteral("Wedding Cut.00003.xml"), base.addSecs(7200),
                xmlFixture(QStringLiteral("fcp_sample.xml")) },
        });
    writeScreenshot(cut + QStringLiteral("/Screenshots/Wedding Cut.00001.jpg"), QColor(0x3a, 0x6e, 0xa5),
        QStringLiteral("Opening titles"));
    writeScreenshot(cut + QStringLiteral("/Screenshots/Wedding Cut.00002.jpg"), QColor(0xa5, 0x5a, 0x3a),
        QStringLiteral("First dance"));
    writeScreenshot(cut + QStringLiteral("/Screenshots/Wedding Cut.00003.jpg"), QColor(0x4a, 0x8a, 0x4f),
        QStringLiteral("Speeches"));
    QFPropertyList::write(cut + QStringLiteral("/Annotations.plist"),
        QVariantMap { { QStringLiteral("Wedding Cut.00002.xml"), QStringLiteral("Sent to the couple for review") } });

    const QString mix = QFVersionStoreBuilder::addProject(
        home + QStringLiteral("/Documents/Podcast Mix.sesx"), QStringLiteral("PODCAST"));
    QFVersionStoreBuilder::addVersions(mix,
        {
            { QStringLiteral("Podcast Mix.00001.sesx"), base, "<session/>" },
            { QStringLiteral("Podcast Mix.00002.sesx"), base.addSecs(600), "<session a='1'/>" },
        });
    writeScreenshot(
        mix + QStringLiteral("/Screenshots/Podcast Mix.00002.jpg"), QColor(0x7a, 0x4a, 0x9a), QStringLiteral("Levels"));

    QFVersionStoreBuilder::addProject(home + QStringLiteral("/Videos/Trailer.kdenlive"), QStringLiteral("TRAILER"));
    return cut;
}

QStringList answerSheet(const QString &button)
{
    QMessageBox *box = nullptr;
    if (!QTest::qWaitFor(
            [&] {
                box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                return box && box->isVisible();
            },
            5000)) {
        ADD_FAILURE() << "no sheet";
        return {};
    }
    const QStringList texts { box->text(), box->informativeText() };
    for (QAbstractButton *candidate : box->buttons()) {
        if (candidate->text() == button) {
            QTest::mouseClick(candidate, Qt::LeftButton);
            return texts;
        }
    }
    ADD_FAILURE() << "no button " << button.toStdString() << " on " << box->text().toStdString();
    return texts;
}

void applyLook(bool dark)
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = QApplication::style()->standardPalette();
    if (dark) {
        palette.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x30));
        palette.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
        palette.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
        palette.setColor(QPalette::AlternateBase, QColor(0x27, 0x27, 0x2a));
        palette.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
        palette.setColor(QPalette::Button, QColor(0x38, 0x38, 0x3c));
        palette.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
        palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
        palette.setColor(QPalette::HighlightedText, Qt::white);
        palette.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
        for (const QPalette::ColorRole role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
            palette.setColor(QPalette::Disabled, role, QColor(0x78, 0x78, 0x7c));
        palette.setColor(QPalette::Disabled, QPalette::Base, QColor(0x2a, 0x2a, 0x2d));
        palette.setColor(QPalette::Disabled, QPalette::Button, QColor(0x33, 0x33, 0x36));
    } else {
        palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    }
    QApplication::setPalette(palette);
}

} // namespace apptest
