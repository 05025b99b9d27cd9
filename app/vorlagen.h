// SPDX-License-Identifier: MIT
#pragma once

#include "app/messageboxes.h"
#include "serial/commcontrol.h"
#include "train/panel.h"
#include "train/trainsender.h"
#include "train/traintimer.h"

#include <QFont>
#include <QIcon>
#include <QWidget>
#include <memory>

class LinePreview;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The program's only window: three frames and an exit button at fixed places, sized in twips
// converted at 15 per pixel. It owns the port object, the timer and the send logic, shows the
// fields to them (Panel) and shows their message boxes (Messenger). Each handler is named after
// its control and hands the work on to the TrainSender.
//
// Closing the window destroys it (the timer stops, the port is released), and with the last
// window gone the program ends.
class VorlaGen : public QWidget, public Panel, public Messenger
{
    Q_OBJECT

public:
    // Without arguments: the system's serial ports and the real timer. Tests put in a device
    // factory and port map of their own, or a timer they tick by hand.
    explicit VorlaGen(CommControl::DeviceFactory factory = {}, PortMap map = PortMap(),
                      std::unique_ptr<TrainTimer> timer = {}, QWidget *parent = nullptr);
    ~VorlaGen() override;

    // Where message boxes go; nullptr restores the real boxes.
    void setMessenger(Messenger *messenger) { m_messenger = messenger; }

    // Panel
    QString portText() const override;
    QString bitRateText() const override;
    QString periodText() const override;
    QString trainText() const override;
    CheckState dtrState() const override;
    CheckState rtsState() const override;
    void setDtrState(CheckState state) override;
    void setRtsState(CheckState state) override;

    // Messenger
    void critical(const QString &title, const QString &text) override;
    void information(const QString &title, const QString &text) override;

    // Handlers
    void Form_Load();
    void cmdJednom_Click();
    void cmdPonavljanje_Click();
    void cmdStop_Click();
    void cmdKraj_Click();
    void chkDTR_Click();
    void chkRTS_Click();
    qint16 SetUpCommPort();
    void CloseCommPort();
    // The pulse designer, from the button beside the preview or a click on its line.
    void cmdImpulsi_Click();

    TrainSender &trainSender() { return m_sender; }
    CommControl &port() { return MSCommPort; }
    TrainTimer &timer() { return *timerSlanjePovorki; }

    // The font the captions were laid out for: an 11-pixel sans-serif, one pixel smaller for
    // as long as a label's caption would not fit it.
    static QFont captionFont();

    // The pulse-train icon, 16 and 32 pixels.
    static QIcon icon();

    static constexpr int kTwipsPerPixel = 15;
    // Twips to pixels, to the nearest pixel (every twips value of the window is a multiple of 15).
    static constexpr int px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void createControls();
    void connectHandlers();

    // Frames and labels (no focus).
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    // The fields and buttons.
    QLineEdit *txtPort = nullptr;
    QComboBox *cBaudRate = nullptr;
    QLineEdit *txtPerioda = nullptr;
    QCheckBox *chkDTR = nullptr;
    QCheckBox *chkRTS = nullptr;
    QPushButton *cmdJednom = nullptr;
    QPushButton *cmdPonavljanje = nullptr;
    QPushButton *cmdStop = nullptr;
    QLineEdit *txtPodaciZaSlanje = nullptr;
    QPushButton *cmdKraj = nullptr;
    LinePreview *m_preview = nullptr;
    QPushButton *cmdImpulsi = nullptr;

    // Declared in this order so that the sender goes first, then the timer (its thread ends),
    // then the port (released with what was written still going out).
    CommControl MSCommPort;
    std::unique_ptr<TrainTimer> timerSlanjePovorki;
    MessageBoxes m_boxes;
    Messenger *m_messenger = nullptr;
    TrainSender m_sender;
    bool m_loaded = false;
};
