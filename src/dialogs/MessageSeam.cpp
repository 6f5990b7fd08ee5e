#include "dialogs/MessageSeam.h"

#include "data/Clock.h"

#include <cstdio>
#include <iostream>
#include <utility>

namespace dialogs {

namespace {
MessageHandler& handler()
{
    static MessageHandler h;
    return h;
}

Answer show(const Message& m)
{
    if (auto& h = handler())
        return h(m);
    logLine(messageText(m));
    return firstButton(m.buttons);
}
}  // namespace

Answer firstButton(int buttons) { return (buttons & kYes) ? Answer::kYes : Answer::kOk; }

bool ShowMsgBox(const std::string& caption, const std::string& line1, const std::string& line2, int kind,
                int buttons)
{
    return show(Message {caption, line1, line2, kind, buttons, Face::kKiosk}) != firstButton(buttons);
}

Answer ShowMessage(int kind, const std::string& caption, const std::string& text, int buttons)
{
    return show(Message {caption, text, {}, kind, buttons, Face::kOperator});
}

std::string blankWarningText(const std::string& fieldName) { return "\"" + fieldName + "\" cannot be blank."; }

void BlankWarning(const std::string& fieldName) { ShowMessage(kWarning, "Warning", blankWarningText(fieldName), kOk); }

MessageHandler setMessageHandler(MessageHandler h)
{
    MessageHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

std::string messageText(const Message& m)
{
    std::string text = m.caption.empty() ? m.line1 : m.caption + ": " + m.line1;
    if (!m.line2.empty())
        text += " " + m.line2;
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

void logLine(const std::string& text)
{
    const xb::LocalTime t = xb::now();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    std::cerr << stamp << text << std::endl;
}

RecordingMessages::RecordingMessages()
{
    previous_ = setMessageHandler([this](const Message& m) {
        shown.push_back(m);
        return next_ < answers.size() ? answers[next_++] : firstButton(m.buttons);
    });
}

RecordingMessages::~RecordingMessages() { setMessageHandler(std::move(previous_)); }

}  // namespace dialogs
