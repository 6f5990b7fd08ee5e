#pragma once
// The material screen of an inbound visit: up to sixteen large buttons, one
// per material. Touching one stores the open ticket with the scale's weight.

#include "kiosk/KioskScreen.h"

#include <QPushButton>

class QLabel;
class QTimer;
namespace kiosk { class WeightReader; }

// A material button: its caption wraps over several lines.
class MaterialButton : public QPushButton {
    Q_OBJECT
public:
    explicit MaterialButton(QWidget* parent = nullptr);
    void setCaption(const QString& caption);
    QString caption() const { return caption_; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    // The caption at the button's font, or smaller when a long name would
    // not fit the button in full.
    void fitCaption();
    QLabel* label_;
    QString caption_;
};

class TfrmMaterial : public KioskScreen {
    Q_OBJECT
public:
    explicit TfrmMaterial(QWidget* parent = nullptr);
    // Labels the buttons with the materials of product.dbf. False when there
    // is none to offer (the table missing, unreadable, without records or
    // with blank names only).
    bool FormCreate();

    QLabel* Label1;
    QLabel* Label2;
    QLabel* txtLicense;
    QLabel* Label4;
    QLabel* txtCust;
    QLabel* Label6;
    QLabel* lblWait;  // shown while the weight settles
    MaterialButton* cmdMat[16];
    // The licence time-out of setup.ini, counted from the showing: a driver
    // who walks away does not leave the visit to the next one.
    QTimer* timerBack;

    // A touch on a material: its weight is taken once the scale has settled,
    // then the ticket is numbered and stored. One material per visit: once
    // one is touched, touches wait for its weight and after it are ignored.
    void cmdMat1Click(MaterialButton* button);

signals:
    // The open ticket of the visit is stored.
    void ticketStored();
    // It could not be numbered or stored (the driver has been told).
    void ticketNotStored();
    // The time ran out.
    void visitAbandoned();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void storeTicket(const QString& weight);
    kiosk::WeightReader* reader_;
    QString chosen_;     // the material whose weight is being read
    bool taken_ = false; // a material was taken: the visit stores no other
};
