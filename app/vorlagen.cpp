// SPDX-License-Identifier: MIT
#include "app/vorlagen.h"

#include "app/linepreview.h"
#include "app/pulsedialog.h"

#include "texts/pulses.h"
#include "texts/window.h"
#include "train/fields.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>

namespace {

// Client area in twips.
constexpr int kClientWidth = 8715;
constexpr int kClientHeight = 3855;

// Left, top, width, height in twips, converted to pixels.
QRect twips(int left, int top, int width, int height)
{
    return QRect(VorlaGen::px(left), VorlaGen::px(top), VorlaGen::px(width), VorlaGen::px(height));
}

// What each kind of control is in this form, given its caption or initial text.
void setUp(QGroupBox *frame, const QString &title)
{
    frame->setTitle(title);
    frame->setFocusPolicy(Qt::NoFocus);
}

void setUp(QLabel *label, const QString &caption)
{
    label->setText(caption);
    label->setTextFormat(Qt::PlainText);
    // The caption sits at the top of its box, as the layout was drawn.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

// A field keeps only as much as a command can use: a pasted megabyte neither freezes the window
// when a command reads it nor stays in memory for good.
void setUp(QLineEdit *field, const QString &text)
{
    field->setMaxLength(Fields::kNumberFieldLength);
    field->setText(text);
}

// The standard rates to pick from; typed text stays exactly as typed: it is neither added to the
// list, nor completed from it.
void setUp(QComboBox *rates, const QString &text)
{
    rates->setEditable(true);
    for (const qint32 rate : Fields::kStandardBitRates)
        rates->addItem(QString::number(rate));
    rates->setInsertPolicy(QComboBox::NoInsert);
    rates->setCompleter(nullptr);
    rates->lineEdit()->setMaxLength(Fields::kNumberFieldLength);
    rates->setCurrentIndex(rates->findText(text));
}

void setUp(QCheckBox *box, const QString &caption)
{
    box->setText(caption);
}

// Enter and Esc mean nothing in this window: no button may become the default one.
void setUp(QPushButton *button, const QString &caption)
{
    button->setText(caption);
    button->setAutoDefault(false);
    button->setDefault(false);
}

// Every control of the form: its name, its place and its caption or initial text.
template<typename T>
T *control(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    auto *widget = new T(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    setUp(widget, caption);
    return widget;
}

// The label captions and their widths: the tightest fits of the window. Buttons, check boxes
// and frames have room to spare at any of the sizes tried.
struct LabelFit
{
    QString (*text)();
    int widthTwips;
    int heightTwips;
};
constexpr LabelFit kLabels[] = {{&OperatorText::portLabel, 375, 255},
                                {&OperatorText::rateLabel, 375, 255},
                                {&OperatorText::periodLabel, 615, 255},
                                {&OperatorText::periodUnit, 255, 240}};

bool labelsFit(const QFont &font)
{
    const QFontMetrics metrics(font);
    for (const auto &fit : kLabels) {
        if (metrics.horizontalAdvance(fit.text()) > VorlaGen::px(fit.widthTwips) ||
            metrics.height() > VorlaGen::px(fit.heightTwips))
            return false;
    }
    return true;
}

} // namespace

QFont VorlaGen::captionFont()
{
    // The layout was drawn for an 8-point sans-serif (11 pixels). At that size Arial's widths
    // fill "Perioda:" to the last of its 41 pixels; Windows has Arial, Linux distributions ship
    // one of the metric twins. Without any of them Qt takes the system's sans-serif, which may
    // be wider (DejaVu Sans), hence the smaller sizes.
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    for (int pixels = 11; pixels > 8; --pixels) {
        font.setPixelSize(pixels);
        if (labelsFit(font))
            break;
    }
    return font;
}

QIcon VorlaGen::icon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vorlagen-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/vorlagen-32.png"), QSize(32, 32));
    return icon;
}

VorlaGen::VorlaGen(Engine::Parts parts, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
    , m_boxes(this)
    , m_engine(std::move(parts), *this, *this)
{
    setObjectName(QStringLiteral("VorlaGen"));
    setWindowTitle(OperatorText::windowTitle());
    setWindowIcon(icon());
    // Unloading the window is the end of the program: it goes with its timer and port.
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(captionFont());
    // Resizable, but nothing follows the border: the controls keep their places.
    resize(px(kClientWidth), px(kClientHeight));

    createControls();
    connectHandlers();
    // The preview's watcher finds ports as the port object does, with its own copy of the map:
    // it lists them on a thread of its own.
    m_preview->portWatcher().setPortMap(port().portMap());
    chkDTR->setFocus();
}

VorlaGen::~VorlaGen() = default;

void VorlaGen::createControls()
{
    using namespace OperatorText;
    Frame1 = control<QGroupBox>(this, "Frame1", settingsFrame(), twips(120, 120, 2775, 2655));
    Label4 = control<QLabel>(Frame1, "Label4", portLabel(), twips(480, 480, 375, 255));
    txtPort = control<QLineEdit>(Frame1, "txtPort", QStringLiteral("1"), twips(840, 420, 375, 315));
    Label1 = control<QLabel>(Frame1, "Label1", rateLabel(), twips(480, 840, 375, 255));
    cBaudRate = control<QComboBox>(Frame1, "cBaudRate", QStringLiteral("115200"),
                                   twips(840, 840, 1215, 315));
    Label2 = control<QLabel>(Frame1, "Label2", periodLabel(), twips(240, 1275, 615, 255));
    txtPerioda =
        control<QLineEdit>(Frame1, "txtPerioda", QStringLiteral("100"), twips(840, 1200, 975, 315));
    Label3 = control<QLabel>(Frame1, "Label3", periodUnit(), twips(2040, 1305, 255, 240));
    chkDTR = control<QCheckBox>(Frame1, "chkDTR", dtrBox(), twips(840, 1680, 1095, 375));
    chkRTS = control<QCheckBox>(Frame1, "chkRTS", rtsBox(), twips(840, 2160, 855, 255));

    Frame2 = control<QGroupBox>(this, "Frame2", sendingFrame(), twips(3000, 120, 1815, 2055));
    cmdJednom = control<QPushButton>(Frame2, "cmdJednom", onceButton(), twips(240, 360, 1335, 375));
    cmdPonavljanje =
        control<QPushButton>(Frame2, "cmdPonavljanje", repeatButton(), twips(240, 840, 1335, 375));
    cmdStop = control<QPushButton>(Frame2, "cmdStop", stopButton(), twips(240, 1320, 1335, 375));

    Frame3 = control<QGroupBox>(this, "Frame3", trainFrame(), twips(120, 2880, 8535, 855));
    txtPodaciZaSlanje = control<QLineEdit>(Frame3, "txtPodaciZaSlanje",
                                           QStringLiteral("F0 F0 F0 F0 F0 F0 F0 F0 F0 F0"),
                                           twips(120, 360, 8295, 315));
    txtPodaciZaSlanje->setMaxLength(Fields::kTrainFieldLength);

    cmdKraj = control<QPushButton>(this, "cmdKraj", exitButton(), twips(7200, 120, 1455, 375));

    // The TX line preview fills the free area right of "Slanje povorke", between "Kraj" and
    // "Podaci za slanje"; it takes no focus, so the keyboard order below is unchanged.
    m_preview = new LinePreview(this);
    m_preview->setObjectName(QStringLiteral("linePreview"));
    m_preview->setGeometry(326, 38, 250, 150);

    // The pulse designer's button sits above the preview, left of "Kraj", as wide as it.
    cmdImpulsi = control<QPushButton>(this, "cmdImpulsi", pulsesButton(), QRect(326, 8, 97, 25));

    // The keyboard order of the original form: the port number comes last although it is the
    // first field on screen.
    QWidget *const order[] = {chkDTR,         chkRTS,  cBaudRate,         txtPerioda, cmdJednom,
                              cmdPonavljanje, cmdStop, txtPodaciZaSlanje, cmdKraj,    txtPort};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    // The pulse designer's button is no part of the form: after all of it.
    setTabOrder(txtPort, cmdImpulsi);
}

void VorlaGen::connectHandlers()
{
    connect(cmdJednom, &QPushButton::clicked, this, &VorlaGen::cmdJednom_Click);
    connect(cmdPonavljanje, &QPushButton::clicked, this, &VorlaGen::cmdPonavljanje_Click);
    connect(cmdStop, &QPushButton::clicked, this, &VorlaGen::cmdStop_Click);
    connect(cmdKraj, &QPushButton::clicked, this, &VorlaGen::cmdKraj_Click);
    connect(chkDTR, &QCheckBox::stateChanged, this, &VorlaGen::chkDTR_Click);
    connect(chkRTS, &QCheckBox::stateChanged, this, &VorlaGen::chkRTS_Click);
    connect(cmdImpulsi, &QPushButton::clicked, this, &VorlaGen::cmdImpulsi_Click);
    connect(m_preview, &LinePreview::lineClicked, this, &VorlaGen::cmdImpulsi_Click);

    // The preview follows the fields as they are typed, through the decoding the commands use.
    connect(txtPodaciZaSlanje, &QLineEdit::textChanged, m_preview, &LinePreview::setTrainText);
    connect(cBaudRate, &QComboBox::currentTextChanged, m_preview, &LinePreview::setRateText);
    connect(txtPerioda, &QLineEdit::textChanged, m_preview, &LinePreview::setPeriodText);
    connect(txtPort, &QLineEdit::textChanged, m_preview, &LinePreview::setPortText);
    connect(&trainSender(), &TrainSender::repeatingChanged, m_preview, &LinePreview::setRepeating);
    m_preview->setCounterSource([this] {
        const auto priority = m_engine.senderPriorityIfKnown();
        return LinePreview::Counters{trainSender().trainsSent(), trainSender().deadlinesMissed(),
                                     priority && !priority->realtime() ? priority->name()
                                                                       : QString()};
    });
    m_preview->setTrainText(txtPodaciZaSlanje->text());
    m_preview->setRateText(cBaudRate->currentText());
    m_preview->setPeriodText(txtPerioda->text());
    m_preview->setPortText(txtPort->text());
}

void VorlaGen::showEvent(QShowEvent *event)
{
    // Loading happens at the first show, before the window is on screen: centred, lines set.
    if (!m_loaded && !event->spontaneous()) {
        m_loaded = true;
        if (const QScreen *where = screen()) {
            // The frame is known once the native window exists, as it does by now on most
            // platforms; where it is not yet, the client area is centred instead.
            QRect placed(QPoint(), frameGeometry().size());
            placed.moveCenter(where->availableGeometry().center());
            move(placed.topLeft());
        }
        Form_Load();
    }
    QWidget::showEvent(event);
}

QString VorlaGen::portText() const
{
    return txtPort->text();
}

QString VorlaGen::bitRateText() const
{
    return cBaudRate->currentText();
}

QString VorlaGen::periodText() const
{
    return txtPerioda->text();
}

QString VorlaGen::trainText() const
{
    return txtPodaciZaSlanje->text();
}

namespace {

Panel::CheckState stateOf(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return Panel::CheckState::Checked;
    case Qt::PartiallyChecked:
        return Panel::CheckState::Grayed;
    case Qt::Unchecked:
        break;
    }
    return Panel::CheckState::Unchecked;
}

// Grayed is a state only code sets; once the box leaves it, the operator's clicks toggle between
// checked and unchecked again instead of passing through grayed.
void settle(QCheckBox *box)
{
    if (box->isTristate() && box->checkState() != Qt::PartiallyChecked)
        box->setTristate(false);
}

// Only the box: whoever sets a state from code drives the line itself, so it is set once.
void setStateOf(QCheckBox *box, Panel::CheckState state)
{
    const QSignalBlocker quiet(box);
    switch (state) {
    case Panel::CheckState::Checked:
        box->setCheckState(Qt::Checked);
        break;
    case Panel::CheckState::Grayed:
        box->setCheckState(Qt::PartiallyChecked);
        break;
    case Panel::CheckState::Unchecked:
        box->setCheckState(Qt::Unchecked);
        break;
    }
    settle(box);
}

} // namespace

Panel::CheckState VorlaGen::dtrState() const
{
    return stateOf(chkDTR);
}

Panel::CheckState VorlaGen::rtsState() const
{
    return stateOf(chkRTS);
}

void VorlaGen::setDtrState(CheckState state)
{
    setStateOf(chkDTR, state);
}

void VorlaGen::setRtsState(CheckState state)
{
    setStateOf(chkRTS, state);
}

void VorlaGen::critical(const QString &title, const QString &text)
{
    (m_messenger ? *m_messenger : static_cast<Messenger &>(m_boxes)).critical(title, text);
}

void VorlaGen::information(const QString &title, const QString &text)
{
    (m_messenger ? *m_messenger : static_cast<Messenger &>(m_boxes)).information(title, text);
}

void VorlaGen::Form_Load()
{
    trainSender().Form_Load();
}

void VorlaGen::cmdJednom_Click()
{
    trainSender().cmdJednom_Click();
}

void VorlaGen::cmdPonavljanje_Click()
{
    trainSender().cmdPonavljanje_Click();
}

void VorlaGen::cmdStop_Click()
{
    trainSender().cmdStop_Click();
}

void VorlaGen::cmdKraj_Click()
{
    close();
}

void VorlaGen::chkDTR_Click()
{
    settle(chkDTR);
    trainSender().chkDTR_Click();
}

void VorlaGen::chkRTS_Click()
{
    settle(chkRTS);
    trainSender().chkRTS_Click();
}

// One dialog for the window's life, so that it keeps the last pattern. "Primeni" writes the two
// fields as the operator would type them; the commands read them as always.
void VorlaGen::cmdImpulsi_Click()
{
    auto *dialog = findChild<PulseDialog *>();
    if (!dialog) {
        dialog = new PulseDialog(this);
        connect(dialog, &PulseDialog::applied, this,
                [this](const QString &rateText, const QString &trainText) {
                    cBaudRate->setEditText(rateText);
                    txtPodaciZaSlanje->setText(trainText);
                });
    }
    dialog->open();
}

qint16 VorlaGen::SetUpCommPort()
{
    return trainSender().SetUpCommPort();
}

void VorlaGen::CloseCommPort()
{
    trainSender().CloseCommPort();
}
