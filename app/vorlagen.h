// SPDX-License-Identifier: MIT
#pragma once

#include "app/messageboxes.h"
#include "train/engine.h"
#include "train/panel.h"

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
// converted at 15 per pixel. It owns the engine (the port object, the timer and the send logic),
// shows the fields to it (Panel) and shows its message boxes (Messenger). Each handler is named
// after its control and hands the work on to the TrainSender.
//
// Closing the window destroys it (the timer stops, the port is released), and with the last
// window gone the program ends.
class VorlaGen : public QWidget, public Panel, public Messenger
{
    Q_OBJECT

public:
    // The program's engine parts: Engine::systemParts() for the system's serial ports and the
    // real timer; tests put in fake devices, a port map of their own or a timer they tick by hand.
    explicit VorlaGen(Engine::Parts parts, QWidget *parent = nullptr);
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

    TrainSender &trainSender() { return m_engine.sender(); }
    CommControl &port() { return m_engine.port(); }
    TrainTimer &timer() { return m_engine.timer(); }

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

    MessageBoxes m_boxes;
    Messenger *m_messenger = nullptr;
    bool m_loaded = false;
    Engine m_engine; // last: it goes first, while the boxes it may show are still there
};
