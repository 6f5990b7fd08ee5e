#pragma once
// The record window: the customer and product records (list, add, edit,
// delete, print the list), the open tickets to choose one for its outbound
// weighing, and the tickets of any day. One window for the four modes; its
// mode is given when it is made (the station takes it from its checked menu
// item). It reports how it closed; its opener decides what follows.

#include "devices/CardReader.h"
#include "records/RecordStore.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

class QCalendarWidget;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableWidget;

class TfrmView : public QDialog, public devices::CardTarget {
    Q_OBJECT
public:
    TfrmView(records::Mode mode, QWidget* parent = nullptr);
    ~TfrmView() override;

    records::Mode mode() const { return mode_; }

    QLabel* lblTitle;
    QStackedWidget* Notebook1;
    QTableWidget* StringGrid1;
    QLabel* lblSelectDate;
    QCalendarWidget* MonthCalendar1;
    QLabel* lblRecordInformation;
    QLabel* lblCodeNo;
    QLineEdit* txtCodeNo;
    QLabel* lblName;
    QLineEdit* txtName;
    QLabel* lblContact;
    QLineEdit* txtContact;
    QPushButton* cmdEdit;
    QPushButton* cmdAdd;
    QPushButton* cmdDelete;
    QPushButton* cmdPrint;
    QPushButton* cmdNext;
    QPushButton* cmdExit;

    // The ticket number of the selected row (Partial Records, closed with
    // OK); empty otherwise.
    std::string chosenTicket() const;

    // The card router's record editor: takes a card line while the
    // information page of the customer records shows.
    bool accepts() const override;
    void deliver(const std::string& text) override;

    void ShowRecord(const std::string& path = {});
    void CheckStatus();
    void UpdateGrid();
    void cmdAddClick();
    void cmdEditClick();
    void cmdDeleteClick();
    void cmdNextClick();
    void cmdExitClick();
    void StringGrid1DblClick();

    // What Print does in the record modes: prints the mode's list. While
    // none is installed Print stays disabled.
    using ListPrinter = std::function<void(records::Mode, const std::string& dataDir, QWidget* parent)>;
    static ListPrinter setListPrinter(ListPrinter printer);

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void reject() override;

private:
    void FormShow();
    void SetHints();
    bool CheckInputData();
    void UpdateTable();
    void browsing();
    void entryOpen();
    void refreshAfterChange();
    int selectedRow() const;
    void fillTickets(const std::vector<records::TicketRow>& rows);
    void fillMasters();

    records::Mode mode_;
    std::string dataDir_;
    std::unique_ptr<records::MasterTable> table_;
    std::vector<records::MasterRow> shown_;
    bool editing_ = false;
    // Counts the entries opened and closed: a focus move meant for one
    // entry is dropped once it is gone.
    int entryShown_ = 0;
    bool shownOnce_ = false;
};

namespace records {

// The windows the station's menu opens: installs them into the station.
void installRecordWindows();

}  // namespace records
