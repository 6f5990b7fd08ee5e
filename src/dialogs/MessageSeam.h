#pragma once
// The one way the program shows a modal message. Everything that reports to
// a person calls ShowMsgBox or BlankWarning; the screens install the handler
// that shows the real dialog, and tests install one that records what was
// shown and gives a chosen answer, so no flow waits on a person.

#include <functional>
#include <string>
#include <vector>

namespace dialogs {

// Kinds of message, as the large-print message box knows them.
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
};

struct Message {
    std::string caption;
    std::string line1;
    std::string line2;
    int kind = kError;
    int buttons = kOk;
};

// The handler gives true when the message was closed in any way other than
// with its first button (OK or Yes) — as ShowMsgBox does.
using MessageHandler = std::function<bool(const Message&)>;

// Shows the message; false when it was closed with its first button (OK or
// Yes), true otherwise. Without a handler installed it writes the message to
// standard error and gives false.
bool ShowMsgBox(const std::string& caption, const std::string& line1, const std::string& line2 = {},
                int kind = kError, int buttons = kOk);

// The operator's warning that a required field is empty:
// "\"<field>\" cannot be blank." with one OK button.
void BlankWarning(const std::string& fieldName);
std::string blankWarningText(const std::string& fieldName);

// Installs the handler; gives the one installed before. The blank-field
// warning goes through the same handler, as a warning with one OK button
// and the caption "Warning".
MessageHandler setMessageHandler(MessageHandler handler);

// A handler for tests: records every message and answers with the queued
// answers in turn (false — the first button — when the queue is empty).
class RecordingMessages {
public:
    RecordingMessages();
    ~RecordingMessages();
    std::vector<Message> shown;
    std::vector<bool> answers;
    const Message& last() const { return shown.back(); }

private:
    MessageHandler previous_;
    std::size_t next_ = 0;
};

}  // namespace dialogs
