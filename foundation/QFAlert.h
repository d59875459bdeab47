#pragma once

// Messages to the user. In a program with windows each message is a window-modal box on the given
// window; a blocking call waits for the answer from any thread. In a program without windows the
// message goes to the log and the call answers with the default button.
// Answers: 1 for the default button, 0 for the alternate one, −1 for the other one.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QFAlert final {
public:
    static constexpr int kDefaultReturn = 1;
    static constexpr int kAlternateReturn = 0;
    static constexpr int kOtherReturn = -1;

    struct Request {
        QString messageText;
        QString defaultButton;
        QString alternateButton;
        QString otherButton;
        QString informativeText;
        QPointer<QObject> parentWindow;
    };
    using DidEnd = std::function<void(int returnCode)>;

    // A blocking message with the default button only.
    static int alertSheetWithMessageText(
        const QString &messageText, const QString &informativeText, QObject *parentWindow);
    // Up to three buttons (empty titles are left out; no title at all gives "OK"). With block false the
    // call returns −1 at once and the answer goes only to didEnd.
    static int alertSheetWithMessageText(const QString &messageText, const QString &defaultButton,
        const QString &alternateButton, const QString &otherButton, const QString &informativeText,
        QObject *parentWindow, bool block, DidEnd didEnd = {});

    // How messages are shown; the widget library installs its own. Returns the answer when blocking.
    using Presenter = std::function<int(const Request &request, bool block, DidEnd didEnd)>;
    static void setPresenter(Presenter presenter);
};
