#include "app/QFPrint.h"

#include "engine/QFChangeLines.h"
#include "foundation/QFLog.h"

#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTextDocument>

namespace {

// Every print job ends in the log, printed or not (a cancelled job counts as failed).
bool logOutcome(bool printed)
{
    if (printed)
        QFLog::appendLog("Print job completed successfully");
    else
        QFLog::appendLog("Print job failed");
    return printed;
}

bool printerSucceeded(const QPrinter &printer)
{
    return printer.printerState() != QPrinter::Error && printer.printerState() != QPrinter::Aborted;
}

} // namespace

bool QFPrint::printHTMLString(const QString &html, const QString &jobTitle, QPrinter *printer)
{
    printer->setDocName(jobTitle);
    QTextDocument document;
    document.setHtml(html);
    // Fits the page's width; long reports run on over as many pages as they need.
    document.print(printer);
    return printerSucceeded(*printer);
}

// Printers are set up at screen resolution: the report's style sizes its text in pixels, which a
// high-resolution printer would take as its own, far smaller dots.

bool QFPrint::printHTMLStringWithDialog(const QString &html, const QString &jobTitle, QWidget *parentWindow)
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setDocName(jobTitle);
    QPrintDialog dialog(&printer, parentWindow);
    dialog.setObjectName(QStringLiteral("printDialog"));
    dialog.setWindowTitle(QStringLiteral("Print %1").arg(jobTitle));
    if (dialog.exec() != QDialog::Accepted)
        return logOutcome(false);
    return logOutcome(printHTMLString(html, jobTitle, &printer));
}

void QFPrint::previewHTMLString(const QString &html, const QString &jobTitle, QWidget *parentWindow)
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setDocName(jobTitle);
    QPrintPreviewDialog preview(&printer, parentWindow);
    preview.setObjectName(QStringLiteral("printPreview"));
    preview.setWindowTitle(jobTitle);
    // The preview lays the pages out through the same request as the print job it ends with.
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
        [&](QPrinter *target) { printHTMLString(html, jobTitle, target); });
    // The dialog is accepted only once it has printed; closed, nothing was printed.
    const bool printed = preview.exec() == QDialog::Accepted;
    logOutcome(printed && printerSucceeded(printer));
}

bool QFPrint::writePDF(const QString &html, const QString &jobTitle, const QString &path)
{
    return QFChangeLines::writeReportPDF(html, jobTitle, path);
}
