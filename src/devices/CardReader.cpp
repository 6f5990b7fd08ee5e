#include "devices/CardReader.h"

#include "data/CodePage.h"
#include "devices/SerialPort.h"

namespace devices {

CardTarget::~CardTarget() { CardLines().forget(this); }

void CardRouter::forget(const CardTarget* target)
{
    if (swipe_ == target)
        swipe_ = nullptr;
    if (editor_ == target)
        editor_ = nullptr;
}

std::string cardNumberOf(std::string_view line)
{
    const std::size_t cr = line.find('\r');
    return std::string(cr == std::string_view::npos ? line : line.substr(0, cr));
}

std::string cardLineText(std::string_view bytes) { return xb::CodePage::ofMark(xb::kDefaultCodePageMark).decode(bytes); }

CardDelivery CardRouter::route(const std::string& line) const
{
    if (swipe_ && swipe_->accepts()) {
        swipe_->deliver(cardLineText(line));
        return CardDelivery::kSwipeScreen;
    }
    if (editor_ && editor_->accepts()) {
        const std::size_t cr = line.find('\r');
        if (cr == std::string::npos || cr == 0)
            return CardDelivery::kDropped;
        editor_->deliver(cardLineText(std::string_view(line).substr(0, cr)));
        return CardDelivery::kRecordEditor;
    }
    return CardDelivery::kDropped;
}

CardRouter& CardLines()
{
    static CardRouter router;
    return router;
}

CardReaderState& CardReader()
{
    static CardReaderState state;
    return state;
}

void ResetCardReader(CardReaderState& state)
{
    state.lineBuffer.clear();
    state.lastLine.clear();
    state.discarding = false;
}

void configureCardPort(SerialPort& port, int portNumber)
{
    port.setPortNumber(portNumber);
    port.setLineSettings({9600, 8, Parity::None, 1});
    port.setBufferSizes(4096, 4096);
    port.setFlowControl(FlowControl {});
}

void ParseCardData(SerialPort& port, int count)
{
    char chunk[512];
    while (count > 0) {
        const std::size_t want = count < int(sizeof chunk) ? std::size_t(count) : sizeof chunk;
        const std::size_t got = port.read(chunk, want);
        if (got == 0)
            break;
        ParseCardBytes(std::string_view(chunk, got));
        count -= int(got);
    }
}

void ParseCardBytes(std::string_view bytes, CardReaderState& s, const CardRouter& router)
{
    for (const char c : bytes) {
        if (c != '\n') {
            if (s.discarding)
                continue;
            if (s.lineBuffer.size() >= kMaxCardLine) {
                s.lineBuffer.clear();
                s.discarding = true;
                continue;
            }
            s.lineBuffer.push_back(c);
            continue;
        }
        if (s.discarding) {
            s.discarding = false;
            s.lineBuffer.clear();
            continue;
        }
        s.lastLine = std::move(s.lineBuffer);
        s.lineBuffer.clear();
        const std::string line = s.lastLine;  // a nested parse may replace lastLine meanwhile
        router.route(line);
    }
}

}  // namespace devices
