#pragma once

// Prints HTML reports: laid out by a text document, sent to a printer or a PDF file, with a print dialog
// and a preview that lays the report out again whenever the page settings change. Main thread only.

#include <QString>

class QPrinter;
class QWidget;

class QFPrint final {
public:
    // Prints to the printer as it is set up; false when the printer reports an error.
    static bool printHTMLString(const QString &html, const QString &jobTitle, QPrinter *printer);
    // The print dialog as a sheet of the window, then the job; logs "Print job completed successfully" or
    // "Print job failed" (cancelled too). False when cancelled or failed.
    static bool printHTMLStringWithDialog(const QString &html, const QString &jobTitle, QWidget *parentWindow);
    // The preview, refreshed when the page settings change, from which the report can be printed too; its
    // job is logged as the dialog's is (closed without printing, it failed).
    static void previewHTMLString(const QString &html, const QString &jobTitle, QWidget *parentWindow);
    static bool writePDF(const QString &html, const QString &jobTitle, const QString &path);
};
