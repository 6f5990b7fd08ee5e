#include "dialogs/MessageSeam.h"

#include <iostream>
#include <utility>

namespace dialogs {

namespace {
MessageHandler& handler()
{
    static MessageHandler h;
    return h;
}
}  // namespace

bool ShowMsgBox(const std::string& caption, const std::string& line1, const std::string& line2, int kind,
                int buttons)
{
    Message m {caption, line1, line2, kind, buttons};
    if (auto& h = handler())
        return h(m);
    std::cerr << caption << ": " << line1 << (line2.empty() ? "" : " ") << line2 << std::endl;
    return false;
}

std::string blankWarningText(const std::string& fieldName) { return "\"" + fieldName + "\" cannot be blank."; }

void BlankWarning(const std::string& fieldName)
{
    ShowMsgBox("Warning", blankWarningText(fieldName), {}, kWarning, kOk);
}

MessageHandler setMessageHandler(MessageHandler h)
{
    MessageHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

RecordingMessages::RecordingMessages()
{
    previous_ = setMessageHandler([this](const Message& m) {
        shown.push_back(m);
        return next_ < answers.size() ? bool(answers[next_++]) : false;
    });
}

RecordingMessages::~RecordingMessages() { setMessageHandler(std::move(previous_)); }

}  // namespace dialogs
