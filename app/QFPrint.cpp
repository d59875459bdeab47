#include "app/QFPrint.h"

#include "engine/QFChangeLines.h"
#include "foundation/QFLog.h"

#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTextDocument>

bool QFPrint::printHTMLString(const QString &html, const QString &jobTitle, QPrinter *printer)
{
    printer->setDocName(jobTitle);
    QTextDocument document;
    document.setHtml(html);
    // Fits the page's width; long reports run on over as many pages as they need.
    document.print(printer);
    return printer->printerState() != QPrinter::Error && printer->printerState() != QPrinter::Aborted;
}

// Printers are set up at screen resolution: the report's style sizes its text in pixels, which a
// high-resolution printer would take as its own, far smaller dots.

bool QFPrint::printHTMLStringWithDialog(const QString &html, const QString &jobTitle, QWidget *parentWindow)
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setDocName(jobTitle);
    QPrintDialog dialog(&printer, parentWindow);
    dialog.setWindowTitle(QStringLiteral("Print %1").arg(jobTitle));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const bool done = printHTMLString(html, jobTitle, &printer);
    if (done)
        QFLog::appendLog("Print job completed successfully");
    else
        QFLog::appendLog("Print job failed");
    return done;
}

void QFPrint::previewHTMLString(const QString &html, const QString &jobTitle, QWidget *parentWindow)
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setDocName(jobTitle);
    QPrintPreviewDialog preview(&printer, parentWindow);
    preview.setWindowTitle(jobTitle);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&](QPrinter *target) { printHTMLString(html, jobTitle, target); });
    preview.exec();
}

bool QFPrint::writePDF(const QString &html, const QString &jobTitle, const QString &path)
{
    return QFChangeLines::writeReportPDF(html, jobTitle, path);
}
