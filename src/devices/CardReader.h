#pragma once
// The card reader: one line per card, the card text then CR LF. Bytes from
// the card port are collected into lines; each complete line goes to the
// screen that can use it right now:
//   1. the kiosk's swipe screen, whenever it is showing (also while it shows
//      a modal message): it gets the whole line, CR included, as the text of
//      its swipe box, and dispatches on the text before the first CR;
//   2. otherwise the record editor, when its window is showing on the record
//      information page: it gets the card number (the text before the first
//      CR) for its card-number field, which also takes the focus;
//   3. otherwise the line is dropped.
// The screens implement CardTarget and register with the router; no widget
// is known here.

#include <cstddef>
#include <string>
#include <string_view>

namespace devices {

class SerialPort;

class CardTarget {
public:
    virtual ~CardTarget();
    // Whether the target can take a line now: the swipe screen is showing;
    // the record editor exists, is showing and is on its information page.
    virtual bool accepts() const = 0;
    // Takes the line as text (UTF-8; see cardLineText): the swipe screen the
    // whole line with its CR, the record editor the card number (and moves
    // the focus to its field).
    virtual void deliver(const std::string& text) = 0;
};

enum class CardDelivery { kSwipeScreen, kRecordEditor, kDropped };

class CardRouter {
public:
    void setSwipeScreen(CardTarget* target) { swipe_ = target; }
    void setRecordEditor(CardTarget* target) { editor_ = target; }
    // Unregisters the target wherever it is registered.
    void forget(const CardTarget* target);

    // Delivers one line (everything before its LF) by the rule above. The
    // record editor is given only a line that carries a card number: text
    // before a CR. A line without CR, or with nothing before it, would
    // otherwise wipe the number in the field; it is dropped there.
    CardDelivery route(const std::string& line) const;

private:
    CardTarget* swipe_ = nullptr;
    CardTarget* editor_ = nullptr;
};

// The program's router. A target forgets itself when it is destroyed.
CardRouter& CardLines();

// The text before the first CR (all of it when there is none).
std::string cardNumberOf(std::string_view line);

// A line's bytes as text (UTF-8): read in Windows 1252, the code page the
// program gives its tables, so a card holds the characters a customer's
// card number is stored with.
std::string cardLineText(std::string_view bytes);

constexpr std::size_t kMaxCardLine = 256;

struct CardReaderState {
    std::string lineBuffer;  // bytes received since the last LF
    std::string lastLine;    // the last complete line, CR included
    // The line in progress outgrew kMaxCardLine: no card is that long, so it
    // is dropped and everything up to the next LF with it.
    bool discarding = false;
};

CardReaderState& CardReader();
void ResetCardReader(CardReaderState& state = CardReader());

// Sets up the card port: the port number (2 at the kiosk), 9600 baud 8N1,
// 4096-byte buffers, no flow control. Does not open it.
void configureCardPort(SerialPort& port, int portNumber = 2);

// Reads up to count waiting bytes from the port and parses them in order.
void ParseCardData(SerialPort& port, int count);
// Every byte but LF joins the line buffer (CR included); LF completes the
// line: it becomes the last line, the buffer is emptied, and the line is
// routed. The buffer is emptied before the line is delivered, so bytes parsed
// while a target runs a modal loop start a new line.
void ParseCardBytes(std::string_view bytes, CardReaderState& state = CardReader(),
                    const CardRouter& router = CardLines());

}  // namespace devices
