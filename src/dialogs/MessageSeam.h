#pragma once
// The one way the program shows a modal message. Everything that reports to
// a person goes through here; the program installs the handler that shows
// the real dialogs, and tests install one that records what was shown and
// gives the answers it was told, so no flow waits on a person.
//
// A message has one of two faces:
//   - the kiosk's large-print box (ShowMsgBox), made for a driver at a touch
//     screen: a caption, two lines, a picture of its kind, one or two big
//     buttons;
//   - the operator's standard message dialog (ShowMessage, BlankWarning),
//     for the station and its windows: an icon of its kind, a text whose
//     "\r" or "\n" break its lines, and the buttons asked for.

#include <functional>
#include <string>
#include <vector>

namespace dialogs {

// Kinds of message.
enum MsgKind : int {
    kWarning = 0,
    kError = 1,
    kInformation = 2,
    kConfirmation = 3,
};

// Buttons, a set of flags.
enum MsgButton : int {
    kYes = 1,
    kNo = 2,
    kOk = 4,
    kCancel = 8,
    kAbort = 16,
};

// What closed a message: the button pressed, or kClosed when it was closed
// another way (the window closed, Escape on a box without Cancel).
enum class Answer { kOk, kYes, kNo, kCancel, kAbort, kClosed };

enum class Face { kKiosk, kOperator };

struct Message {
    std::string caption;
    std::string line1;  // the operator's face: the whole text
    std::string line2;
    int kind = kError;
    int buttons = kOk;
    Face face = Face::kKiosk;
};

// The first button of a set: Yes when it is among them, else OK (what the
// large-print box shows on its first button; what a message answered
// without a choice gives).
Answer firstButton(int buttons);

using MessageHandler = std::function<Answer(const Message&)>;

// The kiosk's large-print box. False when it was closed with its first
// button (OK or Yes), true otherwise. Without a handler installed it writes
// the message to standard error and gives false. The program's handler
// shows a box with OK only without waiting for it (false at once; the box
// stays on top until the driver answers it, one box at a time), so a caller
// goes on as if OK had been pressed and must not rely on the driver having
// read it.
bool ShowMsgBox(const std::string& caption, const std::string& line1, const std::string& line2 = {},
                int kind = kError, int buttons = kOk);

// The operator's standard dialog; gives the button pressed. Without a
// handler installed it writes the message to standard error and gives the
// first button.
Answer ShowMessage(int kind, const std::string& caption, const std::string& text, int buttons = kOk);

// The operator's warning that a required field is empty:
// "\"<field>\" cannot be blank." with one OK button.
void BlankWarning(const std::string& fieldName);
std::string blankWarningText(const std::string& fieldName);

// Installs the handler; gives the one installed before.
MessageHandler setMessageHandler(MessageHandler handler);

// A line for the site's log on standard error: the local time, then the
// text ("2026-12-10 04:05:06 Card Error: Invalid Swipe Card!").
void logLine(const std::string& text);
// The message as one line of text, for the log.
std::string messageText(const Message& m);

// A handler for tests: records every message and answers with the queued
// answers in turn (the message's first button when the queue is empty).
class RecordingMessages {
public:
    RecordingMessages();
    ~RecordingMessages();
    std::vector<Message> shown;
    std::vector<Answer> answers;
    const Message& last() const { return shown.back(); }

private:
    MessageHandler previous_;
    std::size_t next_ = 0;
};

}  // namespace dialogs
